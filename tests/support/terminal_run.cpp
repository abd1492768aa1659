#include "support/terminal_run.h"

#include "support/test_env.h"

#include <QFile>

#include <csignal>
#include <string>
#include <vector>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zafrel::test {

TerminalRun::TerminalRun(const QProcessEnvironment& environment, const QStringList& arguments)
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

    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
}

TerminalRun::~TerminalRun()
{
    if (pid_ > 0 && status_ < 0 && ::waitpid(pid_, &status_, WNOHANG) == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
    }
    if (master_ >= 0)
        ::close(master_);
}

bool TerminalRun::readSome(std::chrono::milliseconds wait)
{
    pollfd ready{master_, POLLIN, 0};
    if (::poll(&ready, 1, int(wait.count())) <= 0)
        return true;   // nothing yet
    char buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0)
        return false;   // the program has closed the terminal: it ended
    output_.append(buffer, n);
    return true;
}

bool TerminalRun::waitFor(const QString& text, std::chrono::milliseconds deadline)
{
    const QByteArray wanted = text.toUtf8();
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!output_.contains(wanted)) {
        if (std::chrono::steady_clock::now() > end || !readSome(std::chrono::milliseconds(50)))
            return false;
    }
    return true;
}

void TerminalRun::type(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (::write(master_, bytes.constData(), size_t(bytes.size())) != bytes.size())
        output_.append("[typing failed]");
}

int TerminalRun::finish(std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end && readSome(std::chrono::milliseconds(50))) {
    }
    if (::waitpid(pid_, &status_, WNOHANG) == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

QString TerminalRun::commandLine() const
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid_));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = file.readAll();
    text.replace('\0', ' ');
    return QString::fromUtf8(text);
}

}  // namespace zafrel::test
