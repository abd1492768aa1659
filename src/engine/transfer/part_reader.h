#pragma once
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

namespace zafrel {

// Reads the parts of one file for a multipart upload. It owns its own descriptor and reads with
// pread, so several pool threads may read different parts at once without sharing a file position
// and without a lock. Construct and destroy it on the main thread; call read() from the pool.
class PartReader {
public:
    // Opens `path` for reading; throws FileError when it cannot. `fileSize` is the size the upload
    // was planned for: it fixes how many bytes every part must have.
    PartReader(const QString& path, int64_t partSize, int64_t fileSize);
    ~PartReader();   // closes the descriptor; a failing close is ignored
    PartReader(const PartReader&) = delete;
    PartReader& operator=(const PartReader&) = delete;

    int64_t partSize() const { return partSize_; }
    int64_t partCount() const;
    // Bytes that part `part` (from 1) spans in a file of the planned size.
    int64_t expectedLength(int64_t part) const;

    // The bytes of part `part` (from 1). Blocking. Throws FileError when the read fails, and the
    // file-changed error when the file no longer holds all of the part's bytes: a part shorter than
    // planned would silently store a truncated object.
    QByteArray read(int64_t part) const;
    // The same into `into`, resized to the part's length; reuses its memory when it is large
    // enough and `into` is not shared.
    void read(int64_t part, QByteArray& into) const;
    // The same in pieces of at most `pieceSize` bytes handed to `use` in order, through one buffer
    // of that size, for reading a part without holding it whole.
    void readPieces(int64_t part, qsizetype pieceSize, const std::function<void(QByteArrayView)>& use) const;

private:
    // Fills `into` with the `length` bytes at `offset`; a file that ends before is a changed file.
    void readAt(int64_t offset, int64_t length, char* into) const;

    int fd_ = -1;
    int64_t partSize_;
    int64_t fileSize_;
};

}  // namespace zafrel
