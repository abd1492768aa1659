#pragma once
#include <QObject>

#include <functional>

class QSocketNotifier;

namespace zafrel {

// While it lives, SIGINT (Ctrl-C) and SIGTERM no longer end the process at once: the first one is
// handed to `onInterrupt` on the main thread's event loop (with its number), so that the run can
// pause its transfers, keep what they sent and report. A second one ends the process as the
// signal would have (the queue file and its journal keep every verified part anyway). The
// previous handling comes back when it goes. One at a time, main thread only.
class InterruptSignals {
public:
    explicit InterruptSignals(std::function<void(int signal)> onInterrupt);
    ~InterruptSignals();
    InterruptSignals(const InterruptSignals&) = delete;
    InterruptSignals& operator=(const InterruptSignals&) = delete;

private:
    std::function<void(int)> onInterrupt_;
    QSocketNotifier* notifier_ = nullptr;
    QObject context_;
};

}  // namespace zafrel
