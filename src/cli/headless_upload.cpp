#include "cli/headless_upload.h"

#include "cli/json_report.h"
#include "cli/process_exit.h"
#include "cli/send_rate_option.h"
#include "cli/terminal_progress.h"
#include "engine/upload_manager.h"
#include "platform/async_latch.h"

#include <QDir>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace zafrel {

namespace {

// The progress line redraws at most four times a second anyway.
constexpr std::chrono::milliseconds kProgressInterval{250};

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

QCoro::Task<void> uploadAndReport(Options options, User user, UploadManager& manager)
{
    const QDateTime start = QDateTime::currentDateTimeUtc();
    manager.setDestDir(options.destDir());
    manager.setSendRate(sendRateOption(options).bytesPerSecond.value_or(0));
    const QList<QUrl> urls = fileURLs(options.paths());
    // A run killed half-way left its items paused in the queue file, and paused items keep the same
    // file from being queued again: running the same command once more would upload nothing and
    // still end in success. What this command names continues, with its stored parts.
    manager.resumeMatching(urls);
    const std::vector<IntakeProblem> problems = manager.add(urls, QString::fromStdString(user.bucket));
    for (const IntakeProblem& problem : problems)
        printNotice(problem.text());

    // Woken by the engine when its run ends, not by looking at it every so often: the report comes
    // the moment the last file is settled. The progress line has its own clock.
    TerminalProgress progress(manager);
    QTimer progressTicks;
    QObject::connect(&progressTicks, &QTimer::timeout, &manager, [&progress] { progress.update(); });
    progressTicks.start(kProgressInterval);
    const auto idle = std::make_shared<AsyncLatch>();
    const auto checkIdle = [&manager, idle] {
        if (!isBusy(manager))
            idle->finish();
    };
    QObject::connect(&manager, &UploadManager::isRunningChanged, &manager, checkIdle);
    QObject::connect(&manager, &UploadManager::itemsChanged, &manager, checkIdle);
    checkIdle();
    co_await idle->wait();
    progressTicks.stop();

    manager.persistNow();
    // A path left out is not a success either, even when everything else went up.
    const int code = manager.summary().errors > 0 || !problems.empty() ? 1 : 0;
    progress.clear();
    if (options.given(QStringLiteral("--json")))
        exitWithOutput(QString::fromStdString(jsonReport(manager, start, QDateTime::currentDateTimeUtc())) + u'\n', code);
    else
        exitWithOutput(manager.report() + QStringLiteral("\nruta: ") + manager.route() + QStringLiteral("\n"), code);
}

}  // namespace zafrel
