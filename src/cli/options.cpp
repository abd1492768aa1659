#include "cli/options.h"

namespace zafrel {

namespace {
const QString kUpload = QStringLiteral("--upload");
const QString kLogin = QStringLiteral("--login");
const QString kOptionPrefix = QStringLiteral("--");
}  // namespace

Options::Options(QStringList arguments) : arguments_(std::move(arguments)) {}

bool Options::uploadRequested() const { return arguments_.contains(kUpload); }

std::optional<QString> Options::value(const QString& flag) const
{
    const qsizetype i = arguments_.indexOf(flag);
    if (i < 0 || i + 1 >= arguments_.size())
        return std::nullopt;
    return arguments_.at(i + 1);
}

QStringList Options::paths() const
{
    QStringList result;
    const qsizetype u = arguments_.indexOf(kUpload);
    if (u < 0)
        return result;
    for (qsizetype i = u + 1; i < arguments_.size(); ++i) {
        if (!arguments_.at(i).startsWith(kOptionPrefix))
            result.append(arguments_.at(i));
    }
    return result;
}

std::optional<Options::Login> Options::login() const
{
    const qsizetype k = arguments_.indexOf(kLogin);
    if (k < 0 || k + 1 >= arguments_.size())
        return std::nullopt;
    Login login{arguments_.at(k + 1), std::nullopt};
    if (const auto p = passwordIndex())
        login.password = arguments_.at(*p);
    return login;
}

std::optional<qsizetype> Options::passwordIndex() const
{
    const qsizetype k = arguments_.indexOf(kLogin);
    if (k < 0 || k + 2 >= arguments_.size() || arguments_.at(k + 2).startsWith(kOptionPrefix))
        return std::nullopt;
    return k + 2;
}

}  // namespace zafrel
