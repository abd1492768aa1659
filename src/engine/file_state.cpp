#include "engine/file_state.h"

#include <QFile>

#include <sys/stat.h>

namespace zafrel {

void ensureFileUnchanged(const QString& path, int64_t size, double mtime)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        throw FileChangedError();
    // The same reading of the date as the intake's (links followed, nanoseconds kept), so that an
    // untouched file compares exactly equal, also after a trip through the queue file.
    const double current = double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
    if (int64_t(st.st_size) != size || current != mtime)
        throw FileChangedError();
}

}  // namespace zafrel
