#include "engine/file_state.h"

#include <QFile>

#include <sys/stat.h>

namespace zafrel {

double modificationTime(const struct stat& st)
{
    return double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
}

void ensureFileUnchanged(const QString& path, int64_t size, double mtime)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        throw FileChangedError();
    // Links followed, like the intake.
    if (int64_t(st.st_size) != size || modificationTime(st) != mtime)
        throw FileChangedError();
}

}  // namespace zafrel
