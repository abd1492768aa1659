#include "engine/queue_file.h"
#include "engine/upload_manager.h"
#include "platform/path_io.h"
#include "platform/write_failures.h"

#include <QFile>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <QFuture>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <utility>
#include <vector>

namespace zafrel {

namespace {
// Below this many entries a restore is quick enough on this thread alone.
constexpr size_t kParallelRestoreThreshold = 2000;
}  // namespace

// When the queue file is written.
//
// The whole queue is rewritten on every write. The transfers ask for a write after every stored
// part and every finished file; on a large queue (an image sequence of a hundred thousand frames
// is a normal day) one write holds the main thread for tens of milliseconds, and small files
// finish many times a second, so writing each time would starve the window. Measured with
// bench/queue_scale (Release, 2 cores): 100,000 items encode and replace a 22 MB file in ~45 ms of
// CPU (~95 ms wall on a busy machine); 2,000 items in ~1 ms (~3 ms wall).
//
// So persist(), which the transfers call, writes at once while the queue holds at most
// kImmediatePersistLimit items, exactly as often as asked; above that it arms a single-shot timer
// of kPersistDelayMs and the timer writes the state of that moment, so the file is never more than
// a second behind. What the delay can cost after a crash is only work done again (a finished file
// comes back paused and is then skipped or sent again; a stored part is sent again), never an
// item: every change to the set of items (intake, cancel, cancelAll, clearFinished) and the end of
// every run call persistNow(), which writes at once and drops a pending timer. The destructor
// writes what is still pending.
void UploadManager::persist()
{
    if (items_.size() <= kImmediatePersistLimit) {
        persistNow();
        return;
    }
    if (!persistTimer_.isActive())
        persistTimer_.start();
}

void UploadManager::persistNow()
{
    persistTimer_.stop();
    // A write that fails leaves the previous file in place and the queue in memory goes on; the
    // person hears of it once, since a crash now would cost the progress since the last write.
    if (!writeQueueFile(stateURL, items_))
        WriteFailures::instance().queueNotSaved(stateURL);
}

void UploadManager::restore()
{
    QFile file(stateURL);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    file.close();

    auto snapshots = decodeQueue(bytes);
    if (!snapshots)
        return;

    // Whether each file still exists, and its URL, are independent per entry and cost most of a
    // large restore (a path lookup and a URL parse each). This thread and helpers on the pool take
    // slices from a shared counter until none is left, so the work spreads over the cores when they
    // are free and this thread simply does it all when the pool is slow to start. The items
    // themselves (QObjects of this thread) are made here afterwards.
    const size_t count = snapshots->size();
    std::vector<char> present(count, 0);
    std::vector<QUrl> urls(count);
    std::atomic<size_t> nextSlice{0};
    const auto examine = [&] {
        constexpr size_t kSlice = 256;
        for (;;) {
            const size_t begin = nextSlice.fetch_add(1, std::memory_order_relaxed) * kSlice;
            if (begin >= count)
                return;
            const size_t end = std::min(count, begin + kSlice);
            for (size_t i = begin; i < end; ++i) {
                const Snapshot& s = (*snapshots)[i];
                struct stat st;
                present[i] = statPath(s.path, st) == 0;
                if (present[i])
                    urls[i] = QUrl::fromLocalFile(s.path);
            }
        }
    };
    std::vector<QFuture<void>> helpers;
    if (count >= kParallelRestoreThreshold) {
        for (int t = 1; t < QThreadPool::globalInstance()->maxThreadCount(); ++t)
            helpers.push_back(QtConcurrent::run(QThreadPool::globalInstance(), examine));
    }
    examine();
    for (QFuture<void>& helper : helpers)
        helper.waitForFinished();

    std::vector<ItemPtr> restored;
    restored.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        Snapshot& s = (*snapshots)[i];
        if (!present[i]) {
            // Moved or deleted since: dropped, and gone from the file at the next write. Its open
            // upload could never be continued, so its parts are not left stored at the service.
            if (s.key && s.uploadId)
                abortLater(s.key->toStdString(), s.uploadId->toStdString());
            continue;
        }
        auto item = std::make_shared<UploadItem>(s.id, std::move(urls[i]), s.size, s.mtime, s.destDir);
        item->key = std::move(s.key);
        item->uploadId = std::move(s.uploadId);
        item->partSize = s.partSize;
        item->etags = std::move(s.etags);
        item->setLoaded(item->storedBytes());
        if (s.status == Status::Error) {
            item->setStatus(Status::Error);
            item->setError(QStringLiteral("Pendiente de reintento"));
        } else {
            item->setStatus(Status::Paused);
        }
        restored.push_back(std::move(item));
    }
    setItems(std::move(restored));
}

}  // namespace zafrel
