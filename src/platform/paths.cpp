#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace zafrel::paths {

QString dataDir()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Zafrel";
    QDir().mkpath(dir);
    // The session cookie, the queue (paths, keys, upload ids) and whatever else lands here are
    // this account's business alone, whatever the umask made of the folder.
    QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return dir;
}

}  // namespace zafrel::paths
