#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace zafrel {

// A token bucket for the request bodies of one HTTP session: every transfer of the session draws
// from it, so the cap holds for all of them together however many connections are open. The rate
// may be changed from any thread; everything else is called on the session's I/O thread only.
class SendRateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    // Bytes per second; 0 removes the cap. Takes effect at the next draw.
    void setRate(int64_t bytesPerSecond);
    int64_t rate() const { return rate_.load(std::memory_order_relaxed); }

    // How many of `wanted` bytes may be sent now: all of them without a cap, otherwise what the
    // bucket holds (0: the transfer must wait).
    size_t take(size_t wanted, Clock::time_point now);
    // How long until a waiting transfer is worth waking: until the bucket holds a useful amount
    // again (zero without a cap).
    std::chrono::microseconds untilRefilled(Clock::time_point now);

private:
    void refill(Clock::time_point now);
    // What the bucket may hold: a quarter of a second's worth, so that a burst after an idle
    // moment stays small, yet never less than a few reads of a common size.
    double capacity() const;

    std::atomic<int64_t> rate_{0};
    // I/O thread only.
    int64_t appliedRate_ = 0;
    double tokens_ = 0;
    Clock::time_point last_{};
};

}  // namespace zafrel
