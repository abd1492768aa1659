#include "platform/settings.h"

#include "platform/write_failures.h"

#include <QFile>
#include <QSettings>

#include <map>

namespace zafrel::settings {

namespace {

// Values this process set that the file did not take: read back before the file.
std::map<QString, QString>& unsaved()
{
    static std::map<QString, QString> values;
    return values;
}

}  // namespace

std::optional<QString> value(const QString& key)
{
    if (const auto found = unsaved().find(key); found != unsaved().end())
        return found->second;
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Zafrel", "Zafrel");
    if (!s.contains(key))
        return std::nullopt;
    return s.value(key).toString();
}

bool setValue(const QString& key, const QString& value)
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Zafrel", "Zafrel");
    s.setValue(key, value);
    // Written at once: the command line ends with exit(), which skips QSettings' own flush.
    s.sync();
    if (s.status() != QSettings::NoError) {
        unsaved()[key] = value;
        WriteFailures::instance().settingsNotSaved(s.fileName());
        return false;
    }
    unsaved().erase(key);
    // The e-mail and the service stay this account's business; QSettings keeps the mode of the
    // file it replaces, so this matters once, when the file is new.
    QFile::setPermissions(s.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

}  // namespace zafrel::settings
