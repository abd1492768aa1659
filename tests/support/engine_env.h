#pragma once
// Helpers for tests of the upload engine: a service client that never reaches a network, a clean
// queue file and user defaults, and small files on disk.
#include "client/zafrel_api.h"
#include "engine/upload_manager.h"
#include "platform/http.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace zafrel::test {

// A manager whose every call to the service fails at once: "serverURL" holds an unusable origin, so
// its runs end without any traffic. It restores the queue file as it stands.
inline std::unique_ptr<UploadManager> offlineManager()
{
    settings::setValue(QStringLiteral("serverURL"), QString());
    // Left to the end of the process: the session's I/O thread must not stop during exit.
    static ZafrelAPI* const api = new ZafrelAPI(std::make_unique<HttpSession>(HttpSession::serviceConfig()));
    return std::make_unique<UploadManager>(*api);
}

inline std::vector<Status> statuses(const UploadManager& manager)
{
    std::vector<Status> out;
    for (const ItemPtr& it : manager.items())
        out.push_back(it->status());
    return out;
}

inline QString queueFilePath() { return paths::dataDir() + QStringLiteral("/queue.json"); }

// No queue file (nor whose its items are), no suspect destinations, an empty remembered destination
// of no account yet, an unusable server.
inline void resetEngineState()
{
    for (const char* name : {"/queue.json", "/queue.journal", "/suspects.json", "/queue-accounts.json"})
        QFile::remove(paths::dataDir() + QLatin1StringView(name));
    settings::setValue(QStringLiteral("destDir"), QString());
    settings::setValue(QStringLiteral("destAccount"), QString());
    settings::setValue(QStringLiteral("serverURL"), QString());
}

// Writes `content` at `path`, creating missing folders; answers the path.
inline QString writeFile(const QString& path, const QByteArray& content = {})
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return path;
}

}  // namespace zafrel::test
