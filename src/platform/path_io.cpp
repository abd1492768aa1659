#include "platform/path_io.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace zafrel {

namespace {

// Calls `use(folder, name)` with `path` split into an open folder and a name within it; short
// paths go to the system unchanged.
template<class Use>
int atFolder(const QString& path, Use use)
{
    const QByteArray native = QFile::encodeName(path);
    if (native.size() < PATH_MAX)
        return use(AT_FDCWD, native.constData());
    int folder = ::open(native.startsWith('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    const QList<QByteArray> names = native.split('/');
    for (qsizetype i = 0; folder >= 0 && i + 1 < names.size(); ++i) {
        if (names[i].isEmpty())
            continue;
        const int child = ::openat(folder, names[i].constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        folder = child;
    }
    if (folder < 0)
        return -1;
    const int result = use(folder, names.last().constData());
    const int error = errno;
    ::close(folder);
    errno = error;
    return result;
}

}  // namespace

int openPath(const QString& path, int flags)
{
    return atFolder(path, [flags](int folder, const char* name) {
        int fd;
        do {
            fd = ::openat(folder, name, flags | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        return fd;
    });
}

int statPath(const QString& path, struct stat& st)
{
    return atFolder(path, [&st](int folder, const char* name) { return ::fstatat(folder, name, &st, 0); });
}

}  // namespace zafrel
