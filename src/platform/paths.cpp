#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

std::optional<QString> homeProblem()
{
    const auto absolute = [](const char* name) { return qEnvironmentVariable(name).startsWith(u'/'); };
    const QString home = qEnvironmentVariable("HOME");
    if ((absolute("XDG_CONFIG_HOME") && absolute("XDG_DATA_HOME")) || (home.startsWith(u'/') && QFileInfo(home).isDir())) {
        // Settings that cannot be stored only cost this run's choices; a queue that cannot be kept
        // would lose what an interrupted upload already sent.
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Zafrel";
        if (QDir().mkpath(data))
            return std::nullopt;
        return QStringLiteral("No se puede crear la carpeta de datos «%1»: la cola y la sesión no tendrían dónde "
                              "guardarse. Revisa sus permisos, o XDG_DATA_HOME, y vuelve a ejecutar.")
            .arg(data);
    }
    const QString what = home.isEmpty() ? QStringLiteral("HOME no está definida")
                                        : QStringLiteral("HOME («%1») no es una carpeta").arg(home);
    return what
           + QStringLiteral(": no hay dónde guardar la sesión, la cola y los ajustes. Define HOME con tu carpeta "
                            "personal (o XDG_CONFIG_HOME y XDG_DATA_HOME) y vuelve a ejecutar.");
}

}  // namespace zafrel::paths
