#include "engine/file_state.h"

#include "platform/content_hash.h"
#include "platform/path_io.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace zafrel {

double modificationTime(const struct stat& st)
{
    return double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
}

std::optional<FileState> currentFileState(const QString& path)
{
    struct stat st;
    if (statPath(path, st) != 0)
        return std::nullopt;
    return FileState{int64_t(st.st_size), modificationTime(st)};
}

FileLook lookAtFile(const QString& path)
{
    struct stat st;
    if (statPath(path, st) == 0)
        return FileLook{FilePresence::Present, FileState{int64_t(st.st_size), modificationTime(st)}};
    if (errno != ENOENT)
        return {};
    struct stat parent;
    const bool folderThere = statPath(QFileInfo(path).path(), parent) == 0 && S_ISDIR(parent.st_mode);
    return FileLook{folderThere ? FilePresence::Gone : FilePresence::Unavailable, {}};
}

void ensureFileUnchanged(const QString& path, int64_t size, double mtime)
{
    const std::optional<FileState> now = currentFileState(path);
    if (!now || now->size != size || now->mtime != mtime)
        throw FileChangedError();
}

std::string md5OfFile(const QString& path, int64_t size, double mtime, std::stop_token stop)
{
    const int fd = openPath(path, O_RDONLY);
    if (fd < 0)
        throw FileError("No se puede abrir el archivo: " + path.toStdString());
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    ContentHasher md5(HashFormat::Md5);
    std::vector<char> buffer(1 << 20);
    int64_t total = 0;
    for (;;) {
        if (stop.stop_requested())
            throw Cancelled();
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw FileError("No se puede leer el archivo: " + path.toStdString());
        }
        if (n == 0)
            break;
        md5.add(QByteArrayView(buffer.data(), qsizetype(n)));
        total += n;
    }
    if (total != size)
        throw FileChangedError();
    ensureFileUnchanged(path, size, mtime);
    return md5.finish();
}

}  // namespace zafrel
