#include "platform/settings.h"

#include "platform/write_failures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSettings>

namespace zafrel::settings {

namespace {

// The file is read once per process and kept: the service's origin is asked for on every request,
// and a QSettings object looks for its files on each construction. What this process sets goes
// into the copy as well as into the file, so the copy is always this process's view.
struct Cache {
    bool loaded = false;
    QHash<QString, QString> values;
    // Keys whose value in the copy the file did not take: set again, they are written again.
    QSet<QString> unsaved;
};

Cache& cache()
{
    static Cache instance;
    if (!instance.loaded) {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Zafrel", "Zafrel");
        for (const QString& key : s.allKeys())
            instance.values.insert(key, s.value(key).toString());
        instance.loaded = true;
    }
    return instance;
}

}  // namespace

std::optional<QString> value(const QString& key)
{
    const Cache& c = cache();
    if (const auto it = c.values.constFind(key); it != c.values.constEnd())
        return *it;
    return std::nullopt;
}

bool setValue(const QString& key, const QString& value) { return setValues({{key, value}}); }

bool setValues(const QList<std::pair<QString, QString>>& values)
{
    Cache& c = cache();
    // Setting what the file already holds writes nothing: a run's start sets some keys to what
    // they were, and each write of the file costs a synced replacement.
    QList<std::pair<QString, QString>> changed;
    for (const auto& [key, value] : values) {
        const auto it = c.values.constFind(key);
        if (it == c.values.constEnd() || *it != value || c.unsaved.contains(key))
            changed.append({key, value});
    }
    if (changed.isEmpty())
        return true;
    for (const auto& [key, value] : changed)
        c.values.insert(key, value);
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Zafrel", "Zafrel");
    // Made here, not by QSettings under the process umask: another local account able to write in
    // the folder could replace the file and with it "serverURL", where the password goes.
    const QString folder = QFileInfo(s.fileName()).path();
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (const auto& [key, value] : changed)
        s.setValue(key, value);
    // Written at once: the command line ends with exit(), which skips QSettings' own flush.
    s.sync();
    if (s.status() != QSettings::NoError) {
        for (const auto& [key, value] : changed)
            c.unsaved.insert(key);
        WriteFailures::instance().settingsNotSaved(s.fileName());
        return false;
    }
    for (const auto& [key, value] : changed)
        c.unsaved.remove(key);
    // The e-mail and the service stay this account's business; QSettings keeps the mode of the
    // file it replaces, so this matters once, when the file is new.
    QFile::setPermissions(s.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

}  // namespace zafrel::settings
