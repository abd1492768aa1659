#pragma once
// Runs the built program on a pseudo-terminal of its own, as from a person's terminal: its
// standard input, output and error are the terminal, which the test reads and types into.
#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>

#include <sys/types.h>

namespace zafrel::test {

class TerminalRun {
public:
    TerminalRun(const QProcessEnvironment& environment, const QStringList& arguments);
    ~TerminalRun();   // kills the program if it still runs
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Reads what the program writes until `text` has appeared; false when the deadline passed or
    // the program ended first.
    bool waitFor(const QString& text, std::chrono::milliseconds deadline = std::chrono::seconds(30));
    void type(const QString& text);
    // Reads to the end and answers the exit code; -1 when killed at the deadline or by a signal.
    int finish(std::chrono::milliseconds deadline = std::chrono::seconds(120));
    // Everything read so far, as the terminal shows it (line ends as CR LF).
    QString output() const { return QString::fromUtf8(output_); }
    // The program's command line as the system shows it to every account (/proc/PID/cmdline).
    QString commandLine() const;

private:
    bool readSome(std::chrono::milliseconds wait);

    int master_ = -1;
    pid_t pid_ = -1;
    int status_ = -1;
    QByteArray output_;
};

}  // namespace zafrel::test
