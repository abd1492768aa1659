#pragma once
#include "engine/queue/queue_journal.h"
#include "engine/queue/upload_item.h"

#include <QString>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zafrel {

class UploadQueue;

// The queue on disk: the queue file (queue_file.h) and its journal (queue_journal.h). Main thread
// only; it reads the queue it is given and touches nothing else of the engine's.
//
// The queue file holds the whole queue and is written whole (atomically) whenever the set of items
// changes: intake, cancel, cancelAll, clearFinished, the end of every run. Between those, the
// transfers record what changes on one item (a file finished, an upload started, a part stored):
// such a record is one short line of the journal beside the queue file, kept in memory and
// appended, with one sync, at most a second later. So a finished file costs the same with ten
// items in the queue as with a hundred thousand, where rewriting the queue file each time cost
// tens of milliseconds per file; after a crash at most the last second's progress is done again (a
// finished file comes back paused and is then skipped or sent again; a stored part is sent again),
// and no item is lost, because every change to the set of items is written whole at once.
//
// The journal is folded into the queue file (the queue written whole, the journal removed) at the
// end of every run, when a restore finds one, and whenever it has grown larger than the queue file
// itself, so that its cost spread over the records stays constant. Readers of the queue file alone
// see it whole and in its usual form, at most a run behind.
class QueueStore {
public:
    // Writes `queue`, which must outlive it.
    QueueStore(QString queuePath, QString journalPath, const UploadQueue& queue);
    QueueStore(const QueueStore&) = delete;
    QueueStore& operator=(const QueueStore&) = delete;

    const QString& queuePath() const { return queuePath_; }
    const QString& journalPath() const { return journalPath_; }

    // persist() records the item's state as it now stands, and persistPart() its part `part`
    // stored: on disk within a second, or at once after flushPersisted(). persistNow() writes the
    // whole queue at once. None raises; a failed write of the whole queue is told to WriteFailures
    // (once per file).
    void persist(const UploadItem& item);
    void persistPart(const UploadItem& item, int64_t part);
    void flushPersisted();
    void persistNow();
    // Writes what is pending, then nothing more: the queue's owner has gone.
    // What a run still winding down would record is left to the next restore, which pauses every
    // file anyway.
    void close();

    // The queue as the files on disk left it, every item paused but those stored as failed, which
    // come back failed and pending a retry, and those stored as cancelled, which come back so.
    // Entries whose file is gone (its folder there, the file not) are dropped; those out of reach
    // otherwise come back paused, saying so.
    struct Restored {
        std::vector<ItemPtr> items;
        // (key, uploadId) of the open multipart uploads of dropped entries: nothing can continue
        // them, so they are for aborting at the service.
        std::vector<std::pair<std::string, std::string>> abandonedUploads;
    };
    // Nothing when there is no queue file. One that cannot be read is set aside as
    // "queue.json.dañado-<date>" (said once through WriteFailures) and restores no item, only the
    // open uploads it still names, for aborting. A journal that continued a usable one is folded in
    // at once: the queue file is written whole with `Restored::items` and the journal starts afresh.
    // Temporary files left by whole writes that a crash cut short are removed first.
    std::optional<Restored> restore();

private:
    void schedule();
    void removeLeftoverTemporaries() const;
    Restored setAside(const QByteArray& bytes);
    void writeWhole(const std::vector<ItemPtr>& items);

    // Records of the journal are written within this delay.
    static constexpr int kPersistDelayMs = 1000;
    // Below this the journal is not folded into the queue file before the run ends.
    static constexpr int64_t kFoldJournalBytes = 1 << 20;

    const QString queuePath_;
    const QString journalPath_;
    const UploadQueue& queue_;
    QueueJournal journal_;
    QTimer timer_;
    bool closed_ = false;
};

}  // namespace zafrel
