// The window with a queue of an image sequence: 100,000 empty files in 1,000 folders dropped on
// the main window. Measures how long the drop's intake holds the window, its first redraw with the
// queue, and the longest the window goes without handling events during ten seconds of a run
// played over the queue (a file starts and one ends every 2 ms, far faster than real files do).
//
//   bench_window_scale [FILES_PER_FOLDER [FOLDERS]]     prints one line per figure
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise, in a temporary folder with
// the user's data and config folders moved into it; the service is never reached.
#include "client/zafrel_api.h"
#include "engine/intake/intake_scan.h"
#include "engine/upload_manager.h"
#include "platform/settings.h"
#include "session/session_model.h"
#include "ui/main_view.h"
#include "ui/queue_model.h"
#include "../tests/support/manager_test_access.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace zafrel;

int main(int argc, char** argv)
{
    const int perFolder = argc > 1 ? std::atoi(argv[1]) : 100;
    const int folders = argc > 2 ? std::atoi(argv[2]) : 1000;

    QTemporaryDir work(QDir::tempPath() + "/zafrel-window-scale-XXXXXX");
    qputenv("XDG_DATA_HOME", (work.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (work.path() + "/config").toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    settings::setValue("serverURL", QString());   // any service call fails at once

    const QString root = work.path() + "/Day";
    for (int f = 0; f < folders; ++f) {
        const QByteArray folder = QFile::encodeName(root + QString("/A%1").arg(f, 3, 10, QChar('0')));
        QDir().mkpath(QString::fromUtf8(folder));
        for (int i = 0; i < perFolder; ++i) {
            const int fd = ::open((folder + "/C" + QByteArray::number(i) + ".MXF").constData(), O_WRONLY | O_CREAT, 0644);
            if (fd >= 0)
                ::close(fd);
        }
    }
    std::printf("files: %d in %d folders\n", perFolder * folders, folders);

    ZafrelAPI api(std::make_unique<HttpSession>(HttpSession::serviceConfig()));
    SessionModel session(api);
    UploadManager up(api);
    up.setDestDir("Rodaje/");
    ui::MainView view(session, up);
    view.resize(720, 680);
    view.show();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300)
        QApplication::processEvents(QEventLoop::AllEvents, 20);

    // A drop hands its paths to the intake on the main thread: the window waits for all of it.
    clock.restart();
    up.add({QUrl::fromLocalFile(root)}, QString());
    const double intakeMs = double(clock.nsecsElapsed()) / 1e6;
    std::printf("items queued: %zu\n", up.items().size());
    std::printf("intake (walk, natural order, items, queue file, start): %.0f ms\n", intakeMs);

    // Offline, the engine would now fail every file inside one turn of the event loop (no request
    // ever waits), which says nothing about the window. Stop that run, and play a run instead:
    // every 2 ms one file starts and the one before the last ends, with its bytes counted.
    up.cancelAll();
    clock.restart();
    while (up.isRunning() && clock.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    clock.restart();
    QApplication::processEvents();
    view.repaint();
    std::printf("first redraw with the queue: %.0f ms (%d rows)\n", double(clock.nsecsElapsed()) / 1e6,
                view.queueModel()->rowCount());

    const std::vector<ItemPtr> items = up.items();
    for (const ItemPtr& item : items)
        item->setStatus(Status::Queued);
    ManagerTestAccess::setIsRunning(up, true);
    size_t next = 0;
    QTimer play;
    play.setInterval(2);
    QObject::connect(&play, &QTimer::timeout, [&] {
        if (next < items.size()) {
            items[next]->setStatus(Status::Running);
        }
        if (next >= 2 && next - 2 < items.size())
            items[next - 2]->setStatus(Status::Done);
        ManagerTestAccess::setSpeed(up, 40e6);
        ++next;
    });

    // A timer ticking every 5 ms measures how long the event loop goes without a turn.
    QElapsedTimer sinceTick, total;
    double longest = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
        sinceTick.restart();
    });
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    total.start();
    sinceTick.start();
    tick.start();
    play.start();
    loop.exec();
    std::printf("played run of %.0f s over the queue: %zu files started; longest time without an event-loop turn: %.0f ms\n",
                double(total.elapsed()) / 1e3, next, longest);
    return 0;
}
