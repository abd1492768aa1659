#pragma once
// Runs the built program (programPath()) as a child process with a home of its own: its own
// XDG_DATA_HOME / XDG_CONFIG_HOME / HOME, no display (so only the command line runs), and the
// route probe pointed at a local port that refuses at once.
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>

namespace zafrel::test {

struct ProgramResult {
    bool finished = false;      // false: still running at the deadline (then killed)
    bool crashed = false;       // ended by a signal
    int exitCode = -1;
    QString out;                // standard output, UTF-8
    QString err;
};

class ProgramHome {
public:
    ProgramHome();
    QString path() const { return dir_.path(); }
    QProcessEnvironment environment() const;
    QString queueFile() const;   // where the program keeps its queue
    QString settingsFile() const;

private:
    QTemporaryDir dir_;
};

// Runs the program to its end (killed after `timeout`).
ProgramResult runProgram(const ProgramHome& home, const QStringList& arguments,
                         const QString& workingDirectory = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(120));
// The same with an environment of the caller's (usually home.environment() with changes), and
// `started` told the program's process id as soon as it runs.
ProgramResult runProgram(const QProcessEnvironment& environment, const QStringList& arguments,
                         const QString& workingDirectory = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(120),
                         const std::function<void(qint64 pid)>& started = {});

}  // namespace zafrel::test
