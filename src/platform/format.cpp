#include "platform/format.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zafrel {

QString formatByteCount(int64_t bytes)
{
    const QLocale locale;
    if (bytes == 1 || bytes == -1)
        return locale.toString(qlonglong(bytes)) + " byte";
    if (std::llabs(bytes) < 1000)
        return locale.toString(qlonglong(bytes)) + " bytes";

    // Fewer decimals for small units, as file browsers show them.
    struct Unit { const char* name; int decimals; };
    static const Unit units[] = {{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}};
    double value = double(bytes) / 1000.0;
    size_t u = 0;
    for (;;) {
        const double scale = std::pow(10.0, units[u].decimals);
        const double rounded = std::round(value * scale) / scale;
        if (std::fabs(rounded) < 1000.0 || u + 1 == std::size(units)) {
            QString text = locale.toString(rounded, 'f', units[u].decimals);
            if (units[u].decimals > 0) {
                // "2.0 MB" reads as "2 MB"; "1.50 GB" as "1.5 GB".
                const QString point = locale.decimalPoint();
                while (text.endsWith('0') && text.contains(point))
                    text.chop(1);
                if (text.endsWith(point))
                    text.chop(point.size());
            }
            return text + " " + units[u].name;
        }
        value /= 1000.0;
        ++u;
    }
}

QString localTimeText(const QDateTime& when)
{
    const QDateTime local = when.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    const QString utc = QStringLiteral("UTC%1%2:%3")
                            .arg(QChar(offset < 0 ? u'-' : u'+'))
                            .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                            .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    // Zones without a name of their own abbreviate as their offset ("-03"): said once is enough.
    const QString name = local.timeZoneAbbreviation();
    const bool named = !name.isEmpty() && std::all_of(name.begin(), name.end(), [](QChar c) { return c.isLetter(); });
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + (named ? u' ' + name : QString()) + QStringLiteral(" (")
           + utc + u')';
}

QString durationText(int64_t seconds)
{
    seconds = std::max<int64_t>(seconds, 0);
    const auto two = [](int64_t n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (seconds < 60)
        return QString::number(seconds) + QStringLiteral(" s");
    if (seconds < 3600)
        return QString::number(seconds / 60) + QStringLiteral(" min ") + two(seconds % 60) + QStringLiteral(" s");
    return QString::number(seconds / 3600) + QStringLiteral(" h ") + two(seconds / 60 % 60) + QStringLiteral(" min ")
           + two(seconds % 60) + QStringLiteral(" s");
}

}  // namespace zafrel
