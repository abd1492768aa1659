// The engine's bookkeeping at the scale of an image sequence: 100,000 empty files in 1,000
// folders. Measures the intake of the whole tree (walk, items, queue file, start), one write of
// the 100,000-item queue file, one restore of it, and the summary, and the peak resident memory.
//
//   bench_queue_scale [FILES_PER_FOLDER [FOLDERS]]     prints one line per figure
//
// Works in a temporary folder, with the user's data and config folders moved into it: the real
// queue file and settings are never touched, and the service is never called.
#include "client/zafrel_api.h"
#include "engine/intake/intake_scan.h"
#include "engine/queue/queue_file.h"
#include "engine/upload_manager.h"
#include "platform/http.h"
#include "platform/settings.h"
#include "../tests/support/manager_test_access.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace zafrel;

namespace {

// Wall time and the CPU time of this thread: on a busy machine the second shows what the work
// itself costs.
struct Timing {
    double wallMs = 0;
    double cpuMs = 0;      // this (the main) thread
    double allCpuMs = 0;   // every thread of the process, the pool's included
};

double cpuMs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

Timing measure(const std::function<void()>& body)
{
    QElapsedTimer timer;
    const double cpu = cpuMs(CLOCK_THREAD_CPUTIME_ID);
    const double all = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
    timer.start();
    body();
    return {double(timer.nsecsElapsed()) / 1e6, cpuMs(CLOCK_THREAD_CPUTIME_ID) - cpu,
            cpuMs(CLOCK_PROCESS_CPUTIME_ID) - all};
}

Timing medianOf(int runs, const std::function<void()>& body)
{
    std::vector<Timing> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(measure(body));
    std::sort(times.begin(), times.end(), [](const Timing& a, const Timing& b) { return a.wallMs < b.wallMs; });
    return times[times.size() / 2];
}

void print(const char* what, const Timing& t, const char* detail)
{
    std::printf("%s: %.1f ms wall, %.1f ms CPU of the main thread, %.1f ms CPU of all threads; %s\n", what, t.wallMs,
                t.cpuMs, t.allCpuMs, detail);
}

long peakRssMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv)
{
    const int perFolder = argc > 1 ? std::atoi(argv[1]) : 100;
    const int folders = argc > 2 ? std::atoi(argv[2]) : 1000;

    QTemporaryDir work(QDir::tempPath() + "/zafrel-queue-scale-XXXXXX");
    qputenv("XDG_DATA_HOME", (work.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (work.path() + "/config").toUtf8());
    QCoreApplication app(argc, argv);
    settings::setValue("serverURL", QString());   // any service call fails at once

    const QString root = work.path() + "/Day";
    for (int f = 0; f < folders; ++f) {
        const QByteArray folder = QFile::encodeName(root + QString("/A%1").arg(f, 4, 10, QChar('0')));
        QDir().mkpath(QString::fromUtf8(folder));
        for (int i = 0; i < perFolder; ++i) {
            const QByteArray path = folder + "/C" + QByteArray::number(i).rightJustified(6, '0') + ".MXF";
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0)
                ::close(fd);
        }
    }
    const int total = perFolder * folders;
    std::printf("files: %d in %d folders\n", total, folders);
    const long rssBefore = peakRssMiB();

    ZafrelAPI api(std::make_unique<HttpSession>(HttpSession::serviceConfig()));
    auto manager = std::make_unique<UploadManager>(api);
    manager->setDestDir("Rodaje/Dia03/");

    const Timing intake = measure([&] { manager->add({QUrl::fromLocalFile(root)}, QString()); });
    std::printf("items queued: %zu\n", manager->items().size());
    print("intake", intake, "walk, items, queue file, start");
    std::printf("peak RSS: %ld MiB (%ld MiB before the intake)\n", peakRssMiB(), rssBefore);

    const Timing encode = medianOf(5, [&] { encodeQueue(manager->items()); });
    const Timing persist = medianOf(5, [&] { manager->persistNow(); });
    const qint64 fileBytes = QFileInfo(ManagerTestAccess::store(*manager).queuePath()).size();
    print("encode", encode, "median of 5");
    std::printf("queue file: %.1f MB\n", double(fileBytes) / 1e6);
    print("persist", persist, "median of 5: encode and atomic replace");

    QFile file(ManagerTestAccess::store(*manager).queuePath());
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    const Timing decode = medianOf(5, [&] { decodeQueue(bytes); });
    print("decode", decode, "median of 5");

    // As at a start: a new manager restores into an empty queue (its upload session included).
    manager.reset();
    std::vector<Timing> restores;
    for (int i = 0; i < 5; ++i) {
        std::unique_ptr<UploadManager> fresh;
        restores.push_back(measure([&] { fresh = std::make_unique<UploadManager>(api); }));
        manager = std::move(fresh);
    }
    std::sort(restores.begin(), restores.end(), [](const Timing& a, const Timing& b) { return a.wallMs < b.wallMs; });
    const Timing restore = restores[2];
    std::printf("items restored: %zu\n", manager->items().size());
    print("restore", restore, "median of 5: a new manager restoring the queue");

    Summary s;
    const Timing summary = medianOf(21, [&] { s = manager->summary(); });
    std::printf("summary: %.3f ms wall, median of 21\n", summary.wallMs);
    std::printf("peak RSS at the end: %ld MiB\n", peakRssMiB());

    const bool met = intake.wallMs < 3000 && persist.wallMs < 150 && restore.wallMs < 500 && summary.wallMs < 5;
    std::printf("targets (wall): intake < 3000 ms, persist < 150 ms, restore < 500 ms, summary < 5 ms: %s\n",
                met ? "met" : "MISSED");
    manager.reset();
    return 0;
}
