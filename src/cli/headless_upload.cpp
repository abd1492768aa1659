#include "cli/headless_upload.h"

#include "cli/process_exit.h"
#include "engine/upload_manager.h"
#include "platform/async.h"

#include <QDir>
#include <QUrl>

#include <chrono>

namespace zafrel {

namespace {

constexpr std::chrono::milliseconds kPollInterval{300};

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

}  // namespace

QCoro::Task<void> uploadAndReport(Options options, User user, SignInAgain signInAgain)
{
    UploadManager manager;
    manager.setDestDir(options.destDir());
    const QList<QUrl> urls = fileURLs(options.paths());
    // A run killed half-way left its items paused in the queue file, and paused items keep the same
    // file from being queued again: running the same command once more would upload nothing and
    // still end in success. What this command names continues, with its stored parts.
    manager.resumeMatching(urls);
    manager.add(urls, QString::fromStdString(user.bucket));

    for (bool signedInAgain = false;;) {
        while (isBusy(manager)) {
            try {
                co_await sleepFor(kPollInterval);
            } catch (const Cancelled&) {
                // An interrupted wait is a finished one; the loop just looks again.
            }
        }
        if (manager.pauseCause() != PauseCause::SessionEnded || signedInAgain || !signInAgain)
            break;
        signedInAgain = true;
        const bool renewed = co_await signInAgain();
        if (!renewed)
            break;
        manager.resumeMatching(urls);
        manager.start();
    }

    manager.persistNow();
    const std::optional<PauseCause> cause = manager.pauseCause();
    if (cause)
        printNotice(pauseNotice(*cause));
    const int code = cause == PauseCause::SessionEnded ? 2 : (manager.summary().errors > 0 || cause) ? 1 : 0;
    exitWithOutput(manager.report() + QStringLiteral("\nruta: ") + manager.route() + QStringLiteral("\n"), code);
}

}  // namespace zafrel
