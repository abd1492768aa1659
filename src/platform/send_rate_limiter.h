#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

namespace zafrel {

// A token bucket for the request bodies of one HTTP session: every transfer of the session draws
// from it, so the cap holds for all of them together however many connections are open. Under a
// cap the bucket is handed out in turns, one chunk to each waiting body in the order they came,
// so a small file is never starved by a big clip that asks for more. A body waits in whole
// chunks, not in the trickle that builds up between two reads, so a capped run costs CPU for the
// bytes it sends rather than for the time it waits. The rate may be changed from any thread;
// everything else is called on the session's I/O thread only.
class SendRateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    // Bytes per second; 0 removes the cap. Takes effect at the next draw.
    void setRate(int64_t bytesPerSecond);
    int64_t rate() const { return rate_.load(std::memory_order_relaxed); }

    // How many of `wanted` bytes the body `who` may send now: all of them without a cap;
    // otherwise what its turn granted it, or a chunk straight from the bucket when nobody waits.
    // 0: the body waits in line until grant() names it.
    size_t take(uint64_t who, size_t wanted, Clock::time_point now);
    // Hands out what the bucket holds, one chunk per waiting body in turn; appends the bodies
    // that may go on to `woken` (all of them once the cap is removed).
    void grant(Clock::time_point now, std::vector<uint64_t>& woken);
    // How long until the next body in line can be granted its chunk (zero without a cap).
    std::chrono::microseconds untilNextGrant(Clock::time_point now);
    bool anyWaiting() const { return !line_.empty(); }
    // The body ended: it leaves the line, and what it was granted but did not send goes back.
    void forget(uint64_t who);

    // What one turn gives a body at the current rate.
    size_t chunk() const;

private:
    struct Waiter {
        uint64_t who;
        size_t wanted;
    };

    void refill(Clock::time_point now);
    // What the bucket may hold: a quarter of a second's worth, so that a burst after an idle
    // moment stays small, yet never less than a few reads of a common size.
    double capacity() const;
    size_t need(const Waiter& waiter) const;

    std::atomic<int64_t> rate_{0};
    // I/O thread only.
    int64_t appliedRate_ = 0;
    double tokens_ = 0;
    Clock::time_point last_{};
    std::deque<Waiter> line_;
    std::unordered_map<uint64_t, size_t> granted_;
};

}  // namespace zafrel
