#include "platform/atomic_file.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace zafrel {

namespace {

bool writeAll(int fd, QByteArrayView data)
{
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), size_t(data.size()));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data = data.sliced(written);
    }
    return true;
}

}  // namespace

bool writeFileAtomically(const QString& path, QByteArrayView bytes)
{
    const std::string target = QFile::encodeName(path).toStdString();
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace zafrel
