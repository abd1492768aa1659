#include "platform/byte_rate.h"

#include <QRegularExpression>

#include <cmath>

namespace zafrel {

namespace {
// Beyond any line a crew can share: a larger value is a typo, not a cap.
constexpr double kLargestRate = 1e12;
}  // namespace

std::optional<int64_t> parseByteRate(QStringView text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d+(?:[.,]\\d+)?)\\s*([kmg]?)(?:b(?:/s)?)?\\s*$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text.toString());
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double number = match.captured(1).replace(u',', u'.').toDouble(&ok);
    const QChar unit = match.captured(2).isEmpty() ? QChar() : match.captured(2).at(0).toLower();
    const double multiple = unit == u'k' ? 1e3 : unit == u'm' ? 1e6 : unit == u'g' ? 1e9 : 1;
    const double rate = std::round(number * multiple);
    if (!ok || rate > kLargestRate)
        return std::nullopt;
    return int64_t(rate);
}

QString byteRateText(int64_t bytesPerSecond)
{
    for (const auto& [multiple, unit] : {std::pair{1e9, u'G'}, std::pair{1e6, u'M'}, std::pair{1e3, u'K'}}) {
        if (double(bytesPerSecond) >= multiple)
            return QString::number(double(bytesPerSecond) / multiple, 'g', 6) + QChar(unit);
    }
    return QString::number(bytesPerSecond);
}

}  // namespace zafrel
