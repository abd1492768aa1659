#include "support/terminal_run.h"

#include "support/test_env.h"

#include <QFile>

#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zafrel::test {

TerminalRun::TerminalRun(const QProcessEnvironment& environment, const QStringList& arguments,
                         const QString& standardOutputFile)
{
    // Everything the child needs is made before the fork: after it, only exec.
    std::vector<std::string> strings{programPath().toStdString()};
    for (const QString& argument : arguments)
        strings.push_back(argument.toStdString());
    const size_t argumentCount = strings.size();
    for (const QString& variable : environment.toStringList())
        strings.push_back(variable.toStdString());
    std::vector<char*> argv, envp;
    for (size_t i = 0; i < strings.size(); ++i)
        (i < argumentCount ? argv : envp).push_back(strings[i].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const std::string outputPath = standardOutputFile.toStdString();

    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
        const int out = outputPath.empty() ? -1 : ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (!outputPath.empty() && (out < 0 || ::dup2(out, STDOUT_FILENO) < 0))
            ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
}

TerminalRun::~TerminalRun()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0)
        ::close(master_);
}

bool TerminalRun::readSome()
{
    pollfd ready{master_, POLLIN, 0};
    if (::poll(&ready, 1, 50) <= 0)
        return true;
    char buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    closed_ = n <= 0;
    if (closed_)
        return false;
    output_.append(buffer, n);
    return true;
}

bool TerminalRun::readUntil(std::chrono::seconds deadline, const QByteArray& wanted)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (wanted.isEmpty() || !output_.contains(wanted))
        if (std::chrono::steady_clock::now() > end || !readSome())
            return false;
    return true;
}

bool TerminalRun::waitFor(const QString& text) { return readUntil(std::chrono::seconds(30), text.toUtf8()); }

void TerminalRun::type(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (::write(master_, bytes.constData(), size_t(bytes.size())) != bytes.size())
        output_.append("[typing failed]");
}

int TerminalRun::finish()
{
    if (pid_ <= 0)
        return -1;
    readUntil(std::chrono::seconds(120), {});
    if (!closed_)
        ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

QString TerminalRun::commandLine() const
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid_));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll().replace('\0', ' '));
}

}  // namespace zafrel::test
