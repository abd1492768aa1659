#include "cli/option_checks.h"

#include "cli/send_rate_option.h"
#include "platform/printable.h"

#include <QUrl>

namespace zafrel {

namespace {

// How each option that takes a value is written, for the line that says its value is missing.
QString exampleOf(const QString& flag)
{
    if (flag == u"--dest")
        return QStringLiteral("--dest Dia04/");
    if (flag == u"--server")
        return QStringLiteral("--server https://upload.productora.es");
    if (flag == u"--login")
        return QStringLiteral("--login ana@productora.es");
    if (flag == u"--limite")
        return QStringLiteral("--limite 50M");
    return flag + QStringLiteral(" VALOR");
}

bool hasControlCharacters(const QString& text)
{
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            return true;
    return false;
}

std::optional<QString> destReason(const QString& dest)
{
    if (dest.isEmpty())
        return QStringLiteral("está vacía (para la carpeta superior, omite --dest)");
    if (hasControlCharacters(dest))
        return QStringLiteral("tiene caracteres de control");
    if (dest.startsWith(u'/'))
        return QStringLiteral("empieza por «/»");
    // A trailing "/" only marks the folder; every step before it must name one.
    const QString folders = dest.endsWith(u'/') ? dest.chopped(1) : dest;
    for (const QString& step : folders.split(u'/')) {
        if (step.isEmpty())
            return QStringLiteral("tiene dos «/» seguidas");
        if (step == u"." || step == u"..")
            return QStringLiteral("tiene un paso «%1»").arg(step);
    }
    return std::nullopt;
}

std::optional<QString> serverProblem(const QString& server)
{
    const QUrl url(server, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && (scheme == u"https" || scheme == u"http") && !url.host().isEmpty())
        return std::nullopt;
    return QStringLiteral("--server «%1» no es una dirección http:// o https://; por ejemplo: "
                          "--server https://upload.productora.es")
        .arg(printable(server));
}

}  // namespace

std::optional<QString> destProblem(const QString& dest)
{
    const std::optional<QString> reason = destReason(dest);
    if (!reason)
        return std::nullopt;
    return QStringLiteral("La carpeta de destino «%1» no vale: %2. Escribe una ruta dentro del almacenamiento, "
                          "como --dest Dia04/ o --dest Rodaje/Dia04/.")
        .arg(printable(dest), *reason);
}

std::optional<QString> optionProblem(const Options& options)
{
    for (const QString& flag : options.missingValues())
        return QStringLiteral("Falta el valor de %1; por ejemplo: %2").arg(flag, exampleOf(flag));
    if (const auto dest = options.value(QStringLiteral("--dest")))
        if (auto problem = destProblem(*dest))
            return problem;
    if (const auto server = options.server())
        if (auto problem = serverProblem(*server))
            return problem;
    if (const auto mhl = options.value(QStringLiteral("--mhl")); mhl && *mhl != u"xxh64")
        return QStringLiteral("--mhl admite solo el valor xxh64 («%1» no vale); las rutas van tras --upload, "
                              "por ejemplo: --mhl xxh64 --upload /media/A_CAM")
            .arg(printable(*mhl));
    if (const auto rate = sendRateOption(options); rate.given && !rate.bytesPerSecond)
        return sendRateProblem(*options.value(QStringLiteral("--limite")));
    return std::nullopt;
}

}  // namespace zafrel
