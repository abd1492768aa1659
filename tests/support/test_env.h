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

namespace zafrel::test {

// The temp folder that this test process uses as XDG_DATA_HOME / XDG_CONFIG_HOME / HOME.
// test_main sets it up before the application object exists and removes it at exit.
QString sandboxDir();

// Runs the event loop until the predicate holds or the deadline passes; answers the predicate.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(20));

// The whole content of the file at `path`; empty when it cannot be read.
inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
