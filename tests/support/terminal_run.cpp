#include "support/terminal_run.h"

#include "support/test_env.h"

#include <QFile>

#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zafrel::test {

TerminalRun::TerminalRun(const QProcessEnvironment& environment, const QStringList& arguments,
                         const QString& standardOutputFile)
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

TerminalRun::~TerminalRun()
{
    process_.kill();
    process_.waitForFinished(10000);
    if (master_ >= 0)
        ::close(master_);
}

bool TerminalRun::readUntil(std::chrono::seconds deadline, const QByteArray& wanted)
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

void TerminalRun::type(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (::write(master_, bytes.constData(), size_t(bytes.size())) != bytes.size())
        output_.append("[typing failed]");
}

int TerminalRun::finish()
{
    readUntil(std::chrono::seconds(120), {});
    if (!process_.waitForFinished(10000))
        process_.kill();
    process_.waitForFinished(10000);
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QString TerminalRun::commandLine() const
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(process_.processId()));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll().replace('\0', ' '));
}

}  // namespace zafrel::test
