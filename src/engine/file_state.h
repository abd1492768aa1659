#pragma once
#include "platform/errors.h"

#include <QString>

#include <cstdint>
#include <optional>

struct stat;

namespace zafrel {

// The file's modification time in seconds, nanoseconds kept. The intake records it and the
// transfers compare against it with this same reading, so an untouched file compares exactly
// equal, also after a trip through the queue file.
double modificationTime(const struct stat& st);

// The file on disk is no longer the one that was queued: sending it would store a mix of two
// versions, or a version nobody checked, under a "verified" label.
class FileChangedError : public FileError {
public:
    FileChangedError() : FileError("El archivo cambió durante la subida") {}
};

struct FileState {
    int64_t size = 0;
    double mtime = 0;
};

// The file's size and modification time now (links followed, like the intake), or nothing when it
// cannot be examined.
std::optional<FileState> currentFileState(const QString& path);

// Throws FileChangedError unless the file at `path` still has the size and modification time
// recorded when it was queued (a file that cannot be examined any more counts as changed).
void ensureFileUnchanged(const QString& path, int64_t size, double mtime);

}  // namespace zafrel
