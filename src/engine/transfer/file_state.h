#pragma once
#include "platform/errors.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>

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

// Whether a queued file can be reached. Only a file whose folder is there while the file is not
// is gone for good; anything else that keeps it from being examined (its folder missing, a card
// not mounted yet, no permission, an I/O error) may pass once the path is back.
enum class FilePresence { Present, Gone, Unavailable };
struct FileLook {
    FilePresence presence = FilePresence::Unavailable;
    FileState state;   // valid when Present
};
FileLook lookAtFile(const QString& path);

// What an item whose file cannot be reached for now shows while it waits, its upload kept.
inline const char* const kFileUnavailable = "No disponible (¿tarjeta sin montar?)";

// Throws FileChangedError unless the file at `path` still has the size and modification time
// recorded when it was queued (a file that cannot be examined any more counts as changed).
void ensureFileUnchanged(const QString& path, int64_t size, double mtime);

// A local file opened for reading (paths longer than PATH_MAX too), closed when this goes; for
// the thread pool. Throws FileError, naming the path, when it cannot be opened or read.
class ReadableFile {
public:
    explicit ReadableFile(const QString& path);
    ~ReadableFile();
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;

    // Reads up to `size` bytes into `into`: how many it read, 0 at the end of the file.
    size_t readSome(char* into, size_t size);

private:
    QString path_;
    int fd_;
};

// The MD5 (hex) of the whole file at `path`, read in pieces; for the thread pool. Throws
// FileChangedError unless it reads `size` bytes and the file still has `size` and `mtime` after,
// FileError when it cannot be read, Cancelled once `stop` is requested.
std::string md5OfFile(const QString& path, int64_t size, double mtime, std::stop_token stop);

}  // namespace zafrel
