#pragma once
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

namespace zafrel {

// The journal file beside the queue file (see queue_file.h for its lines): records are kept in
// memory, then appended and synced to disk together, so that a second's worth of finished files
// costs one write, whatever the size of the queue. Main thread only.
//
// It appends only while it continues a queue file this engine wrote or read itself and nobody has
// replaced since, in a journal file nobody has replaced or removed since: otherwise flush() refuses
// and the caller writes the queue whole, as a lone writer of the whole queue would have done.
class QueueJournal {
public:
    QueueJournal(QString queuePath, QString journalPath);
    ~QueueJournal();
    QueueJournal(const QueueJournal&) = delete;
    QueueJournal& operator=(const QueueJournal&) = delete;

    // The queue file now holds `base`, just written or read whole: later records continue it, and
    // the journal that continued earlier content goes away. Records kept so far are dropped: the
    // content holds them.
    void restartAfter(QByteArrayView base);

    void add(std::string_view record) { pending_ += record; }
    bool hasPending() const { return !pending_.empty(); }

    // Appends the records kept so far and syncs the journal. False, keeping the records, when they
    // cannot go into this journal: no queue file of this engine's, the queue file or the journal
    // replaced meanwhile, or a failed write (after which nothing more is appended to it, as a
    // later record behind a damaged one would not be read).
    bool flush();

    int64_t journalBytes() const { return journalBytes_; }
    int64_t baseBytes() const { return baseBytes_; }

private:
    // What a file looked like: device, inode, size, modification time.
    struct Stamp {
        uint64_t device = 0, inode = 0;
        int64_t size = -1, seconds = 0, nanoseconds = 0;
        bool operator==(const Stamp&) const = default;
    };
    static Stamp stampOf(const QString& path);
    bool openJournal();
    void closeJournal();

    const QString queuePath_;
    const QString journalPath_;
    bool haveBase_ = false;
    std::string header_;   // the first line for the current base
    Stamp baseStamp_;      // the queue file as this engine left it
    int64_t baseBytes_ = 0;
    int fd_ = -1;          // the open journal, or -1 before its first record
    uint64_t journalInode_ = 0;
    int64_t journalBytes_ = 0;
    std::string pending_;
};

}  // namespace zafrel
