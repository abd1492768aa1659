#include "engine/transfer/file_state.h"

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

ReadableFile::ReadableFile(const QString& path) : path_(path), fd_(openPath(path, O_RDONLY))
{
    if (fd_ < 0)
        throw FileError("No se puede abrir el archivo: " + path.toStdString());
}

ReadableFile::~ReadableFile()
{
    ::close(fd_);
}

size_t ReadableFile::readSome(char* into, size_t size)
{
    for (;;) {
        const ssize_t n = ::read(fd_, into, size);
        if (n >= 0)
            return size_t(n);
        if (errno != EINTR)
            throw FileError("No se puede leer el archivo: " + path_.toStdString());
    }
}

std::string md5OfFile(const QString& path, int64_t size, double mtime, std::stop_token stop)
{
    ReadableFile file(path);
    ContentHasher md5(HashFormat::Md5);
    std::vector<char> buffer(1 << 20);
    int64_t total = 0;
    for (;;) {
        if (stop.stop_requested())
            throw Cancelled();
        const size_t n = file.readSome(buffer.data(), buffer.size());
        if (n == 0)
            break;
        md5.add(QByteArrayView(buffer.data(), qsizetype(n)));
        total += qint64(n);
    }
    if (total != size)
        throw FileChangedError();
    ensureFileUnchanged(path, size, mtime);
    return md5.finish();
}

}  // namespace zafrel
