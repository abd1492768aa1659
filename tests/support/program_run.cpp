#include "support/program_run.h"

#include "support/test_env.h"

#include <QDir>
#include <QProcess>

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
    // Only what a test gives on purpose signs in, and no window opens.
    for (const char* name : {"ZAFREL_PASSWORD", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    // Both probe hosts refuse at once: the direct route, without waiting for the real object store.
    env.insert("ZAFREL_S3_DIRECT_SUFFIX", "localhost:1");
    env.insert("ZAFREL_S3_ACCEL_SUFFIX", "localhost:1");
    env.insert("ZAFREL_S3_PROBE_SCHEME", "http");
    return env;
}

ProgramResult runProgram(const QProcessEnvironment& environment, const QStringList& arguments,
                         const QString& workingDirectory)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    process.start(programPath(), arguments);
    ProgramResult result;
    if (!process.waitForStarted(10000)) {
        result.err = process.errorString();
        return result;
    }
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(5000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

}  // namespace zafrel::test
