#include "platform/settings.h"

#include "platform/write_failures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace zafrel::settings {

std::optional<QString> value(const QString& key)
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Zafrel", "Zafrel");
    if (!s.contains(key))
        return std::nullopt;
    return s.value(key).toString();
}

bool setValue(const QString& key, const QString& value)
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Zafrel", "Zafrel");
    // Made here, not by QSettings under the process umask: another local account able to write in
    // the folder could replace the file and with it "serverURL", where the password goes.
    const QString folder = QFileInfo(s.fileName()).path();
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    s.setValue(key, value);
    // Written at once: the command line ends with exit(), which skips QSettings' own flush.
    s.sync();
    if (s.status() != QSettings::NoError) {
        WriteFailures::instance().settingsNotSaved(s.fileName());
        return false;
    }
    // The e-mail and the service stay this account's business; QSettings keeps the mode of the
    // file it replaces, so this matters once, when the file is new.
    QFile::setPermissions(s.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

}  // namespace zafrel::settings
