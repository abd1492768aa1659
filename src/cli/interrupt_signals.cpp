#include "cli/interrupt_signals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace zafrel {

namespace {

constexpr std::array kSignals{SIGINT, SIGTERM};

// The handler may do almost nothing: it writes the signal's number into a pipe that the event
// loop watches.
int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_received = 0;
struct sigaction g_previous[kSignals.size()];

extern "C" void onSignal(int signal)
{
    if (g_received) {
        // Asked twice: the person wants it over now.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    g_received = signal;
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &number, 1);
    errno = saved;
}

}  // namespace

InterruptSignals::InterruptSignals(std::function<void(int)> onInterrupt) : onInterrupt_(std::move(onInterrupt))
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_received = 0;
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, &context_);
    QObject::connect(notifier_, &QSocketNotifier::activated, &context_, [this] {
        unsigned char number = 0;
        if (::read(g_pipe[0], &number, 1) == 1)
            onInterrupt_(number);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &action, &g_previous[i]);
}

InterruptSignals::~InterruptSignals()
{
    if (!notifier_)
        return;
    for (size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    delete notifier_;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

}  // namespace zafrel
