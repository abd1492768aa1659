#pragma once
#include <QString>

namespace zafrel {

// One process at a time on a data folder's queue: two engines over one queue file would each
// overwrite the other's resume data. The lock is the kernel's (flock) on a file beside the queue,
// which holds the holder's process id for the message; a process that died without letting go
// holds nothing any more, so its leftover file is simply taken over.
class QueueLock {
public:
    // Tries to take the lock at `path` (created 0600 when missing); never waits.
    explicit QueueLock(const QString& path);
    ~QueueLock();   // lets go (the file stays, stale and harmless)
    QueueLock(const QueueLock&) = delete;
    QueueLock& operator=(const QueueLock&) = delete;

    // True when another process holds the lock: this one must not touch the queue. A lock file
    // that cannot even be opened (a folder that takes no writes) refuses nothing: the queue file
    // could not be written there either, and the run still deserves to go on.
    bool refused() const { return refused_; }
    // When refused: the process id the holder wrote, 0 when unknown.
    qint64 holder() const { return holder_; }
    // "Zafrel ya está en marcha con esta cola (proceso N)".
    QString refusal() const;

    // The lock file of the user's data folder.
    static QString defaultPath();

private:
    int fd_ = -1;
    bool refused_ = false;
    qint64 holder_ = 0;
};

}  // namespace zafrel
