#include "cli/headless_upload.h"

#include "cli/interrupt_signals.h"
#include "cli/json_report.h"
#include "cli/process_exit.h"
#include "cli/send_rate_option.h"
#include "cli/terminal_progress.h"
#include "engine/queue/queue_owners.h"
#include "engine/upload_manager.h"
#include "platform/async_latch.h"
#include "present/run_text.h"

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

// The line on standard error of a run that paused as a whole: what happened, and what continues it.
QString pauseNotice(PauseCause cause)
{
    switch (cause) {
    case PauseCause::NoConnection:
        return pauseMessage(cause) + QStringLiteral(". Los archivos quedan pendientes: la misma orden, repetida, "
                                                    "los continúa sin volver a enviar lo ya subido.");
    case PauseCause::SessionEnded:
        return QStringLiteral("Sesión caducada. Los archivos quedan pendientes: la misma orden con --login los "
                              "continúa sin volver a enviar lo ya subido.");
    }
    return {};
}

// The line on standard error of a run that a signal stopped.
QString interruptNotice()
{
    return QStringLiteral("Interrumpido. Los archivos quedan pendientes: la misma orden, repetida, los continúa sin "
                          "volver a enviar lo ya subido.");
}

// Ends when the engine has nothing left to do: woken by its signals, not by looking at it every so
// often, so the report comes the moment the last file is settled.
QCoro::Task<void> untilIdle(UploadManager& manager)
{
    const auto idle = std::make_shared<AsyncLatch>();
    QObject connections;   // the connections end with this wait
    const auto checkIdle = [&manager, idle] {
        if (!isBusy(manager))
            idle->finish();
    };
    QObject::connect(&manager, &UploadManager::isRunningChanged, &connections, checkIdle);
    QObject::connect(&manager, &UploadManager::itemsChanged, &connections, checkIdle);
    checkIdle();
    co_await idle->wait();
}

// What a script reads from the exit code must agree with the report: any line that is neither
// "OK verificado" nor "ya existía" (paused, failed, cancelled, an unverified "OK", a leftover of an
// earlier run) means the files are not all up.
bool reportShowsAnUnfinishedFile(const UploadManager& manager)
{
    for (const ItemPtr& item : manager.items()) {
        const bool up = (item->status() == Status::Done && item->verified()) || item->status() == Status::Skipped;
        if (!up)
            return true;
    }
    return false;
}

}  // namespace

QCoro::Task<void> uploadAndReport(Options options, User user, UploadManager& manager, SignInAgain signInAgain)
{
    const QDateTime start = QDateTime::currentDateTimeUtc();
    // Before anything is queued or continued: the files of other accounts stay out of this run.
    manager.setAccount(user);
    if (const int others = manager.otherAccountsWaiting(); others > 0)
        printNotice(otherAccountsText(others) + u'.');
    manager.setDestDir(options.destDir());
    manager.setSendRate(sendRateOption(options).bytesPerSecond.value_or(0));
    manager.setStartHistories(options.given(QStringLiteral("--mhl")), options.value(QStringLiteral("--mhl")).has_value());
    // Another file that holds a name at the destination is replaced only when the command says so.
    manager.setReplaceOtherFiles(options.given(QStringLiteral("--reemplazar")));
    // A run killed half-way left its items paused in the queue file, and paused items keep the same
    // file from being queued again: running the same command once more would upload nothing and
    // still end in success. What this command names continues, with its stored parts.
    // One walk of the paths serves both.
    const IntakeScan scan = scanForIntake(fileURLs(options.paths()), manager.destDir(), manager.startsHistories());
    manager.resumeMatching(scan);
    const std::vector<IntakeProblem> problems = manager.add(scan, QString::fromStdString(user.bucket));
    for (const IntakeProblem& problem : problems)
        printNotice(problem.text());

    // Ctrl-C or a stop from a script pauses the transfers (what they sent is kept) and the run
    // reports as any other; the same command continues it.
    std::optional<int> interrupted;
    const InterruptSignals interrupts([&manager, &interrupted](int signal) {
        if (interrupted)
            return;
        interrupted = signal;
        manager.pauseAll();
    });

    // The progress line has its own clock.
    TerminalProgress progress(manager);
    QTimer progressTicks;
    QObject::connect(&progressTicks, &QTimer::timeout, &manager, [&progress] { progress.update(); });
    progressTicks.start(kProgressInterval);
    for (bool signedInAgain = false;;) {
        co_await untilIdle(manager);
        if (interrupted || manager.pauseCause() != PauseCause::SessionEnded || signedInAgain || !signInAgain)
            break;
        signedInAgain = true;
        const bool renewed = co_await signInAgain();
        if (!renewed || interrupted)
            break;
        manager.resumeMatching(scan);
        manager.start();
    }
    progressTicks.stop();

    // The queue file needs no write here: the run wrote it whole as it wound down (interrupted or
    // paused by an ended session too), before this wait was resumed.
    progress.clear();
    const std::optional<PauseCause> cause = manager.pauseCause();
    std::optional<QString> notice;
    if (interrupted)
        notice = interruptNotice();
    else if (cause)
        notice = pauseNotice(*cause);
    if (notice)
        printNotice(*notice);
    // A path left out is not a success either, even when everything else went up.
    const int code = interrupted                                                     ? 128 + *interrupted
                     : cause == PauseCause::SessionEnded                                ? 2
                     : reportShowsAnUnfinishedFile(manager) || cause || !problems.empty() ? 1
                                                                                    : 0;
    if (jsonOutput()) {
        const RunOutcome outcome{code, notice, problems};
        exitWithOutput(QString::fromStdString(jsonReport(manager, start, QDateTime::currentDateTimeUtc(), outcome))
                           + u'\n',
                       code);
    } else {
        exitWithOutput(manager.report() + QStringLiteral("\nruta: ") + routeText(manager.route()) + QStringLiteral("\n"), code);
    }
}

}  // namespace zafrel
