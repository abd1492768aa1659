#include "cli/send_rate_option.h"

#include "platform/printable.h"

#include <QRegularExpression>

#include <cmath>

namespace zafrel {

namespace {
// Beyond any line a crew can share: a larger value is a typo, not a cap.
constexpr double kLargestRate = 1e12;
}  // namespace

std::optional<int64_t> parseSendRate(const QString& text)
{
    // Bytes: K, M or G alone or with a capital B. Bits: the word "bit". A lower-case "b" is left
    // out on purpose: "5Mb" is read both ways.
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(\\d+(?:[.,]\\d+)?)\\s*([kKmMgG])(B|[bB][iI][tT])?(?:/s)?\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double number = match.captured(1).replace(u',', u'.').toDouble(&ok);
    const QChar prefix = match.captured(2).at(0).toLower();
    const double multiple = prefix == u'k' ? 1e3 : prefix == u'm' ? 1e6 : 1e9;
    const bool bits = match.captured(3).size() == 3;
    const double rate = std::round(number * multiple / (bits ? 8 : 1));
    if (!ok || rate < 1 || rate > kLargestRate)
        return std::nullopt;
    return int64_t(rate);
}

SendRateOption sendRateOption(const Options& options)
{
    const QString flag = QStringLiteral("--limite");
    SendRateOption option;
    option.given = options.given(flag);
    if (const auto text = options.value(flag))
        option.bytesPerSecond = parseSendRate(*text);
    return option;
}

QString sendRateProblem(const QString& text)
{
    return QStringLiteral("--limite «%1» no es una velocidad: escribe el número con su unidad, en bytes por "
                          "segundo (50M = 50 MB/s, 800K = 800 KB/s) o en bits (100Mbit = 100 megabits/s); "
                          "sin --limite no hay límite.")
        .arg(printable(text));
}

}  // namespace zafrel
