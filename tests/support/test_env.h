#pragma once
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QString>
#include <chrono>
#include <csignal>
#include <ctime>
#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>

namespace zafrel::test {

// The temp folder this test process uses as XDG_DATA_HOME / XDG_CONFIG_HOME / HOME (test_main's).
QString sandboxDir();

// Runs the event loop until the predicate holds or the deadline passes; answers the predicate.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(20));

// The whole content of the file at `path`; empty when it cannot be read.
inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The permission bits of the file at `path`; -1 when there is none.
inline int modeOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

// Path of the built program and of the source tree.
inline QString programPath() { return QStringLiteral(ZAFREL_BINARY_PATH); }
inline QString sourceDir() { return QStringLiteral(ZAFREL_SOURCE_DIR); }

// While it lives, this process's local time is that of the zone `tz` ("Asia/Kolkata").
struct LocalZone {
    const QByteArray before = qgetenv("TZ");
    explicit LocalZone(const char* tz)
    {
        qputenv("TZ", tz);
        ::tzset();
    }
    ~LocalZone()
    {
        before.isNull() ? qunsetenv("TZ") : qputenv("TZ", before);
        ::tzset();
    }
};

// While it lives, every write of a file's content in this process fails as on a full disk.
struct FileWritesFail {
    rlimit before{};
    void (*previousHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    FileWritesFail()
    {
        ::getrlimit(RLIMIT_FSIZE, &before);
        const rlimit none{0, before.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &none);
    }
    ~FileWritesFail()
    {
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, previousHandler);
    }
};

}  // namespace zafrel::test
