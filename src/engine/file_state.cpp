#include "engine/file_state.h"

#include "platform/path_io.h"

#include <QFileInfo>

#include <sys/stat.h>

#include <cerrno>

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

}  // namespace zafrel
