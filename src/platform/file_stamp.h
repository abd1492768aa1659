#pragma once
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace zafrel {

// What a file looks like from outside: size, modification time and inode. A file that another
// process replaced (atomically: a new inode) or wrote since has another stamp, so a reader can
// tell whether what it holds from the file is still current without reading it again.
struct FileStamp {
    int64_t size = -1;   // -1: no such file
    int64_t seconds = 0, nanoseconds = 0;
    uint64_t inode = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp fileStampOf(const QString& path);

// The file's bytes when its stamp is no longer `stamp` (which then takes the new one), nothing
// when it is the same. A file that is gone or cannot be opened reads as no bytes.
std::optional<QByteArray> readIfChanged(const QString& path, FileStamp& stamp);

}  // namespace zafrel
