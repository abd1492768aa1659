#include "support/program_run.h"

#include "support/test_env.h"

#include <QDir>

namespace zafrel::test {

ProgramHome::ProgramHome()
{
    QDir(dir_.path()).mkpath("data");
    QDir(dir_.path()).mkpath("config");
}

QProcessEnvironment ProgramHome::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", dir_.filePath("data"));
    env.insert("XDG_CONFIG_HOME", dir_.filePath("config"));
    env.insert("HOME", dir_.path());
    // Only what a test gives on purpose signs in.
    env.remove("ZAFREL_PASSWORD");
    // No display: the run goes on without a window.
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    // Both probe hosts refuse at once: the direct route, without waiting for the real object store.
    env.insert("ZAFREL_S3_DIRECT_SUFFIX", "localhost:1");
    env.insert("ZAFREL_S3_ACCEL_SUFFIX", "localhost:1");
    env.insert("ZAFREL_S3_PROBE_SCHEME", "http");
    return env;
}

QString ProgramHome::queueFile() const { return dir_.filePath("data/Zafrel/queue.json"); }

QString ProgramHome::settingsFile() const { return dir_.filePath("config/Zafrel/Zafrel.conf"); }

ProgramResult runProgram(const ProgramHome& home, const QStringList& arguments, const QString& workingDirectory,
                         std::chrono::milliseconds timeout)
{
    return runProgram(home.environment(), arguments, workingDirectory, timeout);
}

ProgramResult runProgram(const QProcessEnvironment& environment, const QStringList& arguments,
                         const QString& workingDirectory, std::chrono::milliseconds timeout,
                         const std::function<void(qint64 pid)>& started)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(programPath(), arguments);
    ProgramResult result;
    if (!process.waitForStarted(10000)) {
        result.err = process.errorString();
        return result;
    }
    if (started)
        started(process.processId());
    result.finished = process.waitForFinished(int(timeout.count()));
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

}  // namespace zafrel::test
