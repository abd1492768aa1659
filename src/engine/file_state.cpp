#include "engine/file_state.h"

#include "platform/path_io.h"

#include <sys/stat.h>

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

void ensureFileUnchanged(const QString& path, int64_t size, double mtime)
{
    const std::optional<FileState> now = currentFileState(path);
    if (!now || now->size != size || now->mtime != mtime)
        throw FileChangedError();
}

}  // namespace zafrel
