#include "engine/queue/queue_lock.h"

#include "platform/paths.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zafrel {

namespace {

qint64 readHolder(int fd)
{
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    return n > 0 ? std::strtoll(text, nullptr, 10) : 0;
}

}  // namespace

QueueLock::QueueLock(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;   // see refused()
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        refused_ = errno == EWOULDBLOCK;
        holder_ = readHolder(fd);
        ::close(fd);
        return;
    }
    // Held all the same when the number cannot be written: only a second process's message
    // then lacks it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    if (::ftruncate(fd, 0) == 0)
        (void)::pwrite(fd, pid.data(), pid.size(), 0);
    fd_ = fd;
}

QueueLock::~QueueLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

QString QueueLock::refusal() const
{
    return QStringLiteral("Zafrel ya está en marcha con esta cola (proceso %1)").arg(holder_);
}

QString QueueLock::defaultPath() { return paths::dataDir() + QStringLiteral("/queue.lock"); }

}  // namespace zafrel
