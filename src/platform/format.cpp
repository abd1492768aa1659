#include "platform/format.h"

#include <QLocale>
#include <cmath>

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

}  // namespace zafrel
