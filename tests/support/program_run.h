#pragma once
// The built program as a child process with a home of its own (XDG folders, HOME, no display), run
// to its end or on a pseudo-terminal of its own, as from a person's terminal.
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>

#include <csignal>

#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zafrel::test {

struct ProgramResult {
    int exitCode = -1;   // -1: killed at the deadline, ended by a signal or never started
    QString out;         // standard output, UTF-8
    QString err;
};

class ProgramHome {
public:
    ProgramHome()
    {
        for (const char* folder : {"data", "config"})
            QDir(dir_.path()).mkpath(folder);
    }
    QString path() const { return dir_.path(); }
    QString queueFile() const { return dir_.filePath("data/Zafrel/queue.json"); }
    QProcessEnvironment environment() const
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

private:
    QTemporaryDir dir_;
};

// Runs the program (or its copy at `program`) to its end, killed after two minutes.
inline ProgramResult runProgram(const QProcessEnvironment& environment, const QStringList& arguments,
                                const QString& workingDirectory = {}, const QString& program = programPath())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    const bool ended = process.exitStatus() == QProcess::NormalExit && process.error() == QProcess::UnknownError;
    return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError()) + (ended ? "" : process.errorString())};
}

// The program on a terminal: its standard input, output and error are the terminal, which the test
// reads and types into (standard output may go to a file instead). Killed when the object goes.
class TerminalRun {
public:
    TerminalRun(const QProcessEnvironment& environment, const QStringList& arguments,
                const QString& standardOutputFile = {})
    {
        int terminal = -1;
        if (::openpty(&master_, &terminal, nullptr, nullptr, nullptr) != 0)
            return;
        process_.setProcessEnvironment(environment);
        if (!standardOutputFile.isEmpty())
            process_.setStandardOutputFile(standardOutputFile);
        // In the child, before exec: a session of its own whose controlling terminal is ours.
        process_.setChildProcessModifier([master = master_, terminal, outputToo = standardOutputFile.isEmpty()] {
            ::close(master);
            ::setsid();
            ::ioctl(terminal, TIOCSCTTY, 0);
            ::dup2(terminal, STDIN_FILENO);
            ::dup2(terminal, STDERR_FILENO);
            if (outputToo)
                ::dup2(terminal, STDOUT_FILENO);
        });
        process_.start(programPath(), arguments);
        process_.waitForStarted(10000);
        ::close(terminal);
    }
    ~TerminalRun()
    {
        process_.kill();
        process_.waitForFinished(10000);
        if (master_ >= 0)
            ::close(master_);
    }

    // Reads until `text` has appeared; false when 30 s passed or the program ended first.
    bool waitFor(const QString& text) { return readUntil(std::chrono::seconds(30), text.toUtf8()); }
    void type(const QString& text)
    {
        const QByteArray bytes = text.toUtf8();
        if (::write(master_, bytes.constData(), size_t(bytes.size())) != bytes.size())
            output_.append("[typing failed]");
    }
    // Sends `signal` to the program, as Ctrl-C at its terminal (SIGINT) or a script's kill would.
    void signal(int signal) { ::kill(pid_t(process_.processId()), signal); }
    // Reads to the end (killing the program after two minutes); the exit code, -1 for a signal.
    int finish()
    {
        readUntil(std::chrono::seconds(120), {});
        if (!process_.waitForFinished(10000))
            process_.kill();
        process_.waitForFinished(10000);
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    // Everything read so far, as the terminal shows it (line ends as CR LF).
    QString output() const { return QString::fromUtf8(output_); }
    // The program's command line as the system shows it to every account (/proc/PID/cmdline).
    QString commandLine() const
    {
        QFile file(QStringLiteral("/proc/%1/cmdline").arg(process_.processId()));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().replace('\0', ' ')) : QString();
    }

private:
    // True once `wanted` has appeared; false at the deadline or once the program closed the terminal.
    bool readUntil(std::chrono::seconds deadline, const QByteArray& wanted)
    {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (wanted.isEmpty() || !output_.contains(wanted)) {
            pollfd ready{master_, POLLIN, 0};
            if (master_ < 0 || std::chrono::steady_clock::now() > end || ::poll(&ready, 1, 50) < 0)
                return false;
            char buffer[4096];
            const ssize_t n = ready.revents ? ::read(master_, buffer, sizeof buffer) : 0;
            if (ready.revents && n <= 0)
                return false;
            output_.append(buffer, std::max<ssize_t>(n, 0));
        }
        return true;
    }

    int master_ = -1;
    QProcess process_;
    QByteArray output_;
};

}  // namespace zafrel::test
