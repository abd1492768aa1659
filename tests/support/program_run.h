#pragma once
// Runs the built program (programPath()) as a child process with a home of its own: its own
// XDG_DATA_HOME / XDG_CONFIG_HOME / HOME, no display (so only the command line runs), and the
// route probe pointed at a local port that refuses at once.
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace zafrel::test {

struct ProgramResult {
    int exitCode = -1;   // -1: killed at the deadline, ended by a signal or never started
    QString out;         // standard output, UTF-8
    QString err;
};

class ProgramHome {
public:
    ProgramHome();
    QString path() const { return dir_.path(); }
    QProcessEnvironment environment() const;
    QString queueFile() const { return dir_.filePath("data/Zafrel/queue.json"); }

private:
    QTemporaryDir dir_;
};

// Runs the program to its end (killed after two minutes), in `environment` (usually
// home.environment(), perhaps changed).
ProgramResult runProgram(const QProcessEnvironment& environment, const QStringList& arguments,
                         const QString& workingDirectory = {});
inline ProgramResult runProgram(const ProgramHome& home, const QStringList& arguments,
                                const QString& workingDirectory = {})
{
    return runProgram(home.environment(), arguments, workingDirectory);
}

}  // namespace zafrel::test
