#include "engine/queue/queue_journal.h"

#include "engine/queue/queue_file.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace zafrel {

namespace {

// Writes all of `bytes`, going on after a write cut short by a signal.
bool writeAll(int fd, const char* bytes, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += n;
        size -= size_t(n);
    }
    return true;
}

}  // namespace

QueueJournal::QueueJournal(QString queuePath, QString journalPath)
    : queuePath_(std::move(queuePath)), journalPath_(std::move(journalPath))
{
}

QueueJournal::~QueueJournal()
{
    closeJournal();
}

QueueJournal::Stamp QueueJournal::stampOf(const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size), int64_t(st.st_mtim.tv_sec),
            int64_t(st.st_mtim.tv_nsec)};
}

void QueueJournal::restartAfter(QByteArrayView base)
{
    closeJournal();
    // The old journal continued other content; once the new queue file is in place it is of no
    // use. (Should the program end between the two steps, its first line no longer matches.)
    ::unlink(QFile::encodeName(journalPath_).constData());
    header_ = journalHeader(base);
    baseStamp_ = stampOf(queuePath_);
    baseBytes_ = base.size();
    haveBase_ = baseStamp_.size == base.size();
    pending_.clear();
}

bool QueueJournal::openJournal()
{
    const QByteArray path = QFile::encodeName(journalPath_);
    int fd;
    do {
        fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !writeAll(fd, header_.data(), header_.size())) {
        ::close(fd);
        ::unlink(path.constData());
        return false;
    }
    fd_ = fd;
    journalInode_ = uint64_t(st.st_ino);
    journalBytes_ = int64_t(header_.size());
    return true;
}

void QueueJournal::closeJournal()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    journalBytes_ = 0;
}

bool QueueJournal::flush()
{
    if (pending_.empty())
        return true;
    // Another writer (another engine on the same folder) replaced the queue file or the journal:
    // what this engine appends would not be read with it.
    if (!haveBase_ || stampOf(queuePath_) != baseStamp_)
        return false;
    if (fd_ >= 0 && stampOf(journalPath_).inode != journalInode_) {
        closeJournal();
        return false;
    }
    if (fd_ < 0 && !openJournal())
        return false;
    if (!writeAll(fd_, pending_.data(), pending_.size())) {
        // A record may stand half-written: nothing may follow it in this file.
        closeJournal();
        haveBase_ = false;
        return false;
    }
    // Synced like a whole write of the queue file: a power cut, not only a crash, keeps the records.
    ::fdatasync(fd_);
    journalBytes_ += int64_t(pending_.size());
    pending_.clear();
    return true;
}

}  // namespace zafrel
