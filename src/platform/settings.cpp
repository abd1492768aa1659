#include "platform/settings.h"

#include <QSettings>

namespace zafrel::settings {


std::optional<QString> value(const QString& key)
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Zafrel", "Zafrel");
    if (!s.contains(key))
        return std::nullopt;
    return s.value(key).toString();
}

void setValue(const QString& key, const QString& value)
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Zafrel", "Zafrel");
    s.setValue(key, value);
    // Written at once: the command line ends with exit(), which skips QSettings' own flush.
    s.sync();
}

}  // namespace zafrel::settings
