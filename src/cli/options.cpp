#include "cli/options.h"

#include <algorithm>

namespace zafrel {

namespace {

constexpr OptionRule kRules[] = {
    {QLatin1StringView("--upload"), 0, 0, true},
    {QLatin1StringView("--simular"), 0, 0, true},
    {QLatin1StringView("--comprobar"), 0, 0, true},
    {QLatin1StringView("--server"), 1, 0},
    {QLatin1StringView("--dest"), 1, 0},
    {QLatin1StringView("--login"), 1, 1},
    {QLatin1StringView("--limite"), 1, 0},
    {QLatin1StringView("--json"), 0, 0},
    {QLatin1StringView("--mhl"), 0, 1},
    {QLatin1StringView("--reemplazar"), 0, 0},
    {QLatin1StringView("--pendientes"), 0, 0},
    {QLatin1StringView("--olvidar"), 0, 0},
    {QLatin1StringView("--help"), 0, 0},
    {QLatin1StringView("-h"), 0, 0},
    {QLatin1StringView("--version"), 0, 0},
};

const QString kEndOfOptions = QStringLiteral("--");
const QString kOptionPrefix = QStringLiteral("--");
const QString kConcealedOption = QStringLiteral("(lo que sigue al correo de --login, que no se muestra por si es una contraseña)");

const OptionRule* ruleFor(const QString& argument)
{
    const auto rules = optionRules();
    const auto found = std::find_if(rules.begin(), rules.end(), [&](const OptionRule& r) { return r.flag == argument; });
    return found == rules.end() ? nullptr : &*found;
}

QStringList argumentsOf(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

}  // namespace

std::span<const OptionRule> optionRules() { return kRules; }

Options::Options(int argc, char** argv) : Options(argumentsOf(argc, argv)) {}

Options::Options(QStringList arguments) : arguments_(std::move(arguments))
{
    bool collectingPaths = false;
    // Where a password of "--login" would stand, an argument beginning with "--" is not taken as
    // one, yet it may well be one: it is never repeated back.
    qsizetype concealed = -1;
    for (qsizetype i = 1; i < arguments_.size(); ++i) {
        const QString& argument = arguments_.at(i);
        if (argument == kEndOfOptions) {
            // Everything after it is a path, even a name beginning with "--" (when uploading).
            for (++i; i < arguments_.size(); ++i)
                (collectingPaths ? paths_ : stray_).append(arguments_.at(i));
            break;
        }
        const OptionRule* rule = ruleFor(argument);
        if (!rule) {
            if (argument.startsWith(kOptionPrefix))
                unknown_.append(i == concealed ? kConcealedOption : argument);
            else
                (collectingPaths ? paths_ : stray_).append(argument);
            continue;
        }
        collectingPaths = collectingPaths || rule->startsPaths;
        Values values;
        for (int v = 0; v < rule->requiredValues && i + 1 < arguments_.size() && !ruleFor(arguments_.at(i + 1)); ++v) {
            ++i;
            values.emplace_back(i, arguments_.at(i));
        }
        const bool complete = int(values.size()) == rule->requiredValues;
        if (!complete && !missing_.contains(argument))
            missing_.append(argument);
        for (int v = 0; complete && v < rule->optionalValues && i + 1 < arguments_.size()
                        && !arguments_.at(i + 1).startsWith(kOptionPrefix);
             ++v) {
            ++i;
            values.emplace_back(i, arguments_.at(i));
        }
        if (rule->flag == QLatin1StringView("--login") && complete && int(values.size()) == rule->requiredValues && i + 1 < arguments_.size()
            && arguments_.at(i + 1) != kEndOfOptions && !ruleFor(arguments_.at(i + 1)))
            concealed = i + 1;
        occurrences_.try_emplace(argument, std::move(values));
    }
}

std::optional<QString> Options::value(const QString& flag) const
{
    const auto found = occurrences_.find(flag);
    if (found == occurrences_.end() || found->second.empty())
        return std::nullopt;
    return found->second.front().second;
}

std::optional<Options::Login> Options::login() const
{
    const auto found = occurrences_.find(QStringLiteral("--login"));
    if (found == occurrences_.end() || found->second.empty())
        return std::nullopt;
    const Values& values = found->second;
    return Login{values[0].second, values.size() > 1 ? std::optional(values[1].second) : std::nullopt};
}

std::optional<qsizetype> Options::passwordIndex() const
{
    const auto found = occurrences_.find(QStringLiteral("--login"));
    if (found == occurrences_.end() || found->second.size() < 2)
        return std::nullopt;
    return found->second[1].first;
}

QString Options::destDir() const
{
    QString dest = value(QStringLiteral("--dest")).value_or(QString());
    if (!dest.isEmpty() && !dest.endsWith(u'/'))
        dest += u'/';
    return dest;
}

}  // namespace zafrel
