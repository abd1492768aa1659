#include "engine/transfer/part_reader.h"

#include "engine/transfer/file_state.h"
#include "platform/errors.h"
#include "platform/path_io.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace zafrel {

PartReader::PartReader(const QString& path, int64_t partSize, int64_t fileSize)
    : partSize_(partSize), fileSize_(fileSize)
{
    if (partSize <= 0)
        throw FileError("Tamaño de parte no válido");
    fd_ = openPath(path, O_RDONLY);
    if (fd_ < 0)
        throw FileError("No se puede abrir el archivo: " + path.toStdString());
}

PartReader::~PartReader()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int64_t PartReader::partCount() const { return (fileSize_ + partSize_ - 1) / partSize_; }

int64_t PartReader::expectedLength(int64_t part) const
{
    const int64_t offset = (part - 1) * partSize_;
    if (part < 1 || offset >= fileSize_)
        return 0;
    return std::min(partSize_, fileSize_ - offset);
}

QByteArray PartReader::read(int64_t part) const
{
    QByteArray data;
    read(part, data);
    return data;
}

void PartReader::read(int64_t part, QByteArray& data) const
{
    const int64_t length = expectedLength(part);
    if (length <= 0)
        throw FileError("No existe la parte " + std::to_string(part) + " del archivo");
    data.resize(qsizetype(length));
    readAt((part - 1) * partSize_, length, data.data());
}

void PartReader::readPieces(int64_t part, qsizetype pieceSize, const std::function<void(QByteArrayView)>& use) const
{
    const int64_t length = expectedLength(part);
    if (length <= 0)
        throw FileError("No existe la parte " + std::to_string(part) + " del archivo");
    QByteArray piece(qsizetype(std::min<int64_t>(pieceSize, length)), Qt::Uninitialized);
    for (int64_t done = 0; done < length;) {
        const int64_t size = std::min<int64_t>(piece.size(), length - done);
        readAt((part - 1) * partSize_ + done, size, piece.data());
        use(QByteArrayView(piece.constData(), qsizetype(size)));
        done += size;
    }
}

void PartReader::readAt(int64_t offset, int64_t length, char* into) const
{
    int64_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd_, into + done, size_t(length - done), off_t(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw FileError("No se puede leer el archivo");
        }
        if (got == 0)
            throw FileChangedError();   // end of file before the part's end: the file shrank
        done += got;
    }
}

}  // namespace zafrel
