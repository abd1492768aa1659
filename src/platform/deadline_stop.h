#pragma once
#include <QTimer>

#include <chrono>
#include <stop_token>

namespace zafrel {

// A stop that comes by itself once `duration` has passed, for a call that may be retried for a
// long while but must end within a bound whoever waits for it. Main thread only; keep it alive for
// as long as its token is in use.
class DeadlineStop {
public:
    explicit DeadlineStop(std::chrono::milliseconds duration);
    DeadlineStop(const DeadlineStop&) = delete;
    DeadlineStop& operator=(const DeadlineStop&) = delete;

    std::stop_token token() const { return source_.get_token(); }
    bool expired() const { return source_.stop_requested(); }

private:
    std::stop_source source_;
    QTimer timer_;
};

}  // namespace zafrel
