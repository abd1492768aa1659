#include "platform/paths.h"

#include <QDir>
#include <QStandardPaths>

namespace zafrel::paths {

QString dataDir()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Zafrel";
    QDir().mkpath(dir);
    return dir;
}

}  // namespace zafrel::paths
