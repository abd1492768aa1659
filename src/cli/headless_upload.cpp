#include "cli/headless_upload.h"

#include "cli/process_exit.h"
#include "engine/upload_manager.h"
#include "platform/async_latch.h"

#include <QDir>
#include <QUrl>

#include <memory>

namespace zafrel {

namespace {

bool isBusy(const UploadManager& manager)
{
    if (manager.isRunning())
        return true;
    for (const ItemPtr& item : manager.items())
        if (item->isActive())
            return true;
    return false;
}

// Relative paths are taken from the current directory. The path is normalised ("./Dia01/" and
// "Dia01" are one folder) so that the same card given twice makes the same queue keys.
QList<QUrl> fileURLs(const QStringList& paths)
{
    QList<QUrl> urls;
    const QDir current = QDir::current();
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(QDir::cleanPath(current.absoluteFilePath(path))));
    return urls;
}

}  // namespace

QCoro::Task<void> uploadAndReport(Options options, User user)
{
    UploadManager manager;
    manager.setDestDir(options.destDir());
    const QList<QUrl> urls = fileURLs(options.paths());
    // A run killed half-way left its items paused in the queue file, and paused items keep the same
    // file from being queued again: running the same command once more would upload nothing and
    // still end in success. What this command names continues, with its stored parts.
    manager.resumeMatching(urls);
    manager.add(urls, QString::fromStdString(user.bucket));

    // Woken by the engine when its run ends, not by looking at it every so often: the report comes
    // the moment the last file is settled.
    const auto idle = std::make_shared<AsyncLatch>();
    const auto checkIdle = [&manager, idle] {
        if (!isBusy(manager))
            idle->finish();
    };
    QObject::connect(&manager, &UploadManager::isRunningChanged, &manager, checkIdle);
    QObject::connect(&manager, &UploadManager::itemsChanged, &manager, checkIdle);
    checkIdle();
    co_await idle->wait();

    manager.persistNow();
    const int code = manager.summary().errors > 0 ? 1 : 0;
    exitWithOutput(manager.report() + QStringLiteral("\nruta: ") + manager.route() + QStringLiteral("\n"), code);
}

}  // namespace zafrel
