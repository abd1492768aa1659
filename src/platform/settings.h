#pragma once
#include <QString>
#include <optional>

namespace zafrel::settings {

// The user defaults: "serverURL", "email" and "destDir". QSettings under organisation and
// application "Zafrel" (on Linux ~/.config/Zafrel/Zafrel.conf, moved by XDG_CONFIG_HOME).
std::optional<QString> value(const QString& key);
void setValue(const QString& key, const QString& value);

}  // namespace zafrel::settings
