#include "cli/password_source.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace zafrel {

namespace {

constexpr int kSignalsThatEndThePrompt[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

termios g_savedTerminal;
volatile sig_atomic_t g_echoIsOff = 0;

void restoreEcho()
{
    if (g_echoIsOff) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
        g_echoIsOff = 0;
    }
}

// A Ctrl-C at the prompt must not leave the person's terminal without echo.
extern "C" void endPromptOnSignal(int signal)
{
    restoreEcho();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void writeToStandardError(const char* text)
{
    const size_t length = std::strlen(text);
    for (size_t done = 0; done < length;) {
        const ssize_t n = ::write(STDERR_FILENO, text + done, length - done);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

}  // namespace

std::optional<QString> passwordFromEnvironment()
{
    const QString value = qEnvironmentVariable("ZAFREL_PASSWORD");
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

bool terminalAvailable() { return ::isatty(STDIN_FILENO); }

std::optional<QString> passwordFromTerminal()
{
    termios saved{};
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved) != 0)
        return std::nullopt;
    g_savedTerminal = saved;

    struct sigaction onSignal {};
    onSignal.sa_handler = endPromptOnSignal;
    sigemptyset(&onSignal.sa_mask);
    struct sigaction previous[std::size(kSignalsThatEndThePrompt)] {};
    for (size_t i = 0; i < std::size(kSignalsThatEndThePrompt); ++i)
        ::sigaction(kSignalsThatEndThePrompt[i], &onSignal, &previous[i]);

    // Echo goes off before the prompt shows: someone who types as soon as they see it must not
    // have the first characters of the password echoed (and then thrown away by the flush).
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    g_echoIsOff = 1;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    writeToStandardError("Contraseña: ");

    std::string line;
    bool ended = false;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n') {
            ended = n > 0;
            break;
        }
        line += c;
    }

    restoreEcho();
    for (size_t i = 0; i < std::size(kSignalsThatEndThePrompt); ++i)
        ::sigaction(kSignalsThatEndThePrompt[i], &previous[i], nullptr);
    // The person's Return was not echoed either.
    writeToStandardError("\n");

    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::optional<QString> password;
    if (ended && !line.empty())
        password = QString::fromLocal8Bit(line);
    std::fill(line.begin(), line.end(), '\0');
    return password;
}

void hideArgument(int argc, char** argv, qsizetype index)
{
    if (index <= 0 || index >= argc || !argv[index])
        return;
    for (char* c = argv[index]; *c; ++c)
        *c = '*';
}

}  // namespace zafrel
