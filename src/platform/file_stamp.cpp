#include "platform/file_stamp.h"

#include <QFile>

#include <sys/stat.h>

namespace zafrel {

FileStamp fileStampOf(const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {int64_t(st.st_size), int64_t(st.st_mtim.tv_sec), int64_t(st.st_mtim.tv_nsec), uint64_t(st.st_ino)};
}

std::optional<QByteArray> readIfChanged(const QString& path, FileStamp& stamp)
{
    const FileStamp now = fileStampOf(path);
    if (now == stamp)
        return std::nullopt;
    stamp = now;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace zafrel
