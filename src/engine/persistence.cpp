#include "engine/queue_file.h"
#include "engine/upload_manager.h"
#include "platform/atomic_file.h"
#include "platform/path_io.h"
#include "platform/write_failures.h"

#include <QFile>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <QFuture>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

namespace zafrel {

namespace {
// Below this many entries a restore is quick enough on this thread alone.
constexpr size_t kParallelRestoreThreshold = 2000;
}  // namespace

// When the queue file is written.
//
// The queue file holds the whole queue and is written whole (atomically) whenever the set of items
// changes: intake, cancel, cancelAll, clearFinished, the end of every run. Between those, the
// transfers record what changes on one item (a file finished, an upload started, a part stored):
// such a record is one short line of the journal beside the queue file (queue_journal.h), kept in
// memory and appended, with one sync, at most a second later. So a finished file costs the same
// with ten items in the queue as with a hundred thousand, where rewriting the queue file each time
// cost tens of milliseconds per file; after a crash at most the last second's progress is done
// again (a finished file comes back paused and is then skipped or sent again; a stored part is sent
// again), and no item is lost, because every change to the set of items is written whole at once.
//
// The journal is folded into the queue file (the queue written whole, the journal removed) at the
// end of every run, when a restore finds one, and whenever it has grown larger than the queue file
// itself, so that its cost spread over the records stays constant. Readers of the queue file alone
// see it whole and in its usual form, at most a run behind.
void UploadManager::persist(const ItemPtr& it)
{
    journal_.add(journalItemRecord(*it));
    if (!persistTimer_.isActive())
        persistTimer_.start();
}

void UploadManager::persistPart(const ItemPtr& it, int64_t part)
{
    journal_.add(journalPartRecord(*it, part));
    if (!persistTimer_.isActive())
        persistTimer_.start();
}

void UploadManager::flushPersisted()
{
    persistTimer_.stop();
    if (!journal_.hasPending())
        return;
    if (!journal_.flush()) {
        persistNow();   // the records cannot continue the file on disk: the queue goes whole
        return;
    }
    if (journal_.journalBytes() > std::max(kFoldJournalBytes, journal_.baseBytes()))
        persistNow();
}

void UploadManager::persistNow()
{
    persistTimer_.stop();
    const QByteArray bytes = encodeQueue(items_);
    // A write that fails leaves the previous file and its journal in place, and the records not yet
    // written stay for that journal; the person hears of it once, since a crash now would cost the
    // progress since the last write.
    if (writeFileAtomically(stateURL, bytes))
        journal_.restartAfter(bytes);
    else
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
    // What the last run recorded after the queue file was written whole.
    QFile journalFile(journalURL());
    const bool continued = journalFile.open(QIODevice::ReadOnly) && applyJournal(journalFile.readAll(), bytes, *snapshots);
    journalFile.close();

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
    // Folded at once: the queue file shows where things stand, and the journal starts afresh.
    if (continued)
        persistNow();
    else
        journal_.restartAfter(bytes);
}

}  // namespace zafrel
