#include "ui/window_program.h"

#include "cli/headless.h"
#include "cli/options.h"
#include "cli/process_exit.h"
#include "engine/transfer/background_aborts.h"
#include "engine/queue/queue_lock.h"
#include "ui/desktop.h"

#include <QApplication>
#include <QDir>
#include <QUrl>

namespace zafrel::ui {

namespace {

// Relative paths are taken from the current directory.
QList<QUrl> fileURLs(const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(QDir::cleanPath(QDir::current().absoluteFilePath(path))));
    return urls;
}

}  // namespace

int runWindow(int& argc, char** argv, const Options& options)
{
    const bool uploadRequested = options.uploadRequested();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Zafrel"));
    // Taken before any engine exists: a second engine on this queue would undo the first's.
    const QueueLock lock(QueueLock::defaultPath());
    if (lock.refused()) {
        printNotice(lock.refusal());
        // A script waits for no one: only the window alone says it in a window.
        if (!uploadRequested)
            showRefusal(lock.refusal());
        return 2;
    }
    // With an upload under way the process ends when the upload does, not with the window.
    if (uploadRequested) {
        QApplication::setQuitOnLastWindowClosed(false);
        Headless::prepare(options);
    }
    // One engine: the window shows the run it is part of.
    // Files handed over by a launcher ("%F") or a file manager go to the queue as a drop would.
    auto desktop = startDesktop(uploadRequested ? QList<QUrl>() : fileURLs(options.strayArguments()));
    if (uploadRequested)
        Headless::start(options, &desktop->uploader());
    const int code = app.exec();
    // The engine goes without waiting for anything; the aborts it sent on their own still end.
    desktop.reset();
    finishBackgroundAborts();
    return code;
}

}  // namespace zafrel::ui
