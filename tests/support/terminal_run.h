#pragma once
// Runs the built program on a pseudo-terminal of its own, as from a person's terminal: its
// standard input, output and error are the terminal, which the test reads and types into
// (standard output may go to a file instead).
#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>

namespace zafrel::test {

class TerminalRun {
public:
    TerminalRun(const QProcessEnvironment& environment, const QStringList& arguments,
                const QString& standardOutputFile = {});
    ~TerminalRun();   // kills the program if it still runs
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    // Reads what the program writes until `text` has appeared; false when 30 s passed or the
    // program ended first.
    bool waitFor(const QString& text) { return readUntil(std::chrono::seconds(30), text.toUtf8()); }
    void type(const QString& text);
    // Reads to the end (killing the program after two minutes) and answers the exit code; -1 when
    // killed or ended by a signal.
    int finish();
    // Everything read so far, as the terminal shows it (line ends as CR LF).
    QString output() const { return QString::fromUtf8(output_); }
    // The program's command line as the system shows it to every account (/proc/PID/cmdline).
    QString commandLine() const;

private:
    // True once `wanted` has appeared; false at the deadline or once the program has closed the
    // terminal (its end).
    bool readUntil(std::chrono::seconds deadline, const QByteArray& wanted);

    int master_ = -1;
    QProcess process_;
    QByteArray output_;
};

}  // namespace zafrel::test
