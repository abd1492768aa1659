#include "platform/send_rate_limiter.h"

#include <algorithm>
#include <cmath>

namespace zafrel {

namespace {
// A quarter of a second's worth: a busy machine may not run the I/O thread for tens of
// milliseconds, and what the bucket cannot hold meanwhile is lost for good (the run then stays
// below the cap); a burst of this size is harmless to a shared line.
constexpr double kBurstSeconds = 0.25;
constexpr double kSmallestCapacity = 64 * 1024;
// A turn is a twentieth of a second's worth: about twenty wake-ups a second whatever the rate,
// each sending one full-size piece, and a line of a few bodies still moves every one of them
// several times a second. Never so small that a slow cap sends in crumbs, never more than a few
// reads of the largest upload buffer.
constexpr double kTurnSeconds = 0.05;
constexpr size_t kSmallestChunk = 16 * 1024;
constexpr size_t kLargestChunk = 1024 * 1024;
}  // namespace

void SendRateLimiter::setRate(int64_t bytesPerSecond)
{
    rate_.store(std::max<int64_t>(0, bytesPerSecond), std::memory_order_relaxed);
}

double SendRateLimiter::capacity() const
{
    return std::max(kSmallestCapacity, double(appliedRate_) * kBurstSeconds);
}

size_t SendRateLimiter::chunk() const
{
    return std::clamp(size_t(double(appliedRate_) * kTurnSeconds), kSmallestChunk, kLargestChunk);
}

size_t SendRateLimiter::need(const Waiter& waiter) const
{
    return std::min(waiter.wanted, chunk());
}

void SendRateLimiter::refill(Clock::time_point now)
{
    const int64_t rate = rate_.load(std::memory_order_relaxed);
    if (rate != appliedRate_) {
        // A new cap starts with an empty bucket: no burst at the old rate's size.
        appliedRate_ = rate;
        tokens_ = 0;
        last_ = now;
        return;
    }
    if (rate == 0)
        return;
    const double seconds = std::chrono::duration<double>(now - last_).count();
    if (seconds > 0)
        tokens_ = std::min(capacity(), tokens_ + seconds * double(rate));
    last_ = now;
}

size_t SendRateLimiter::take(uint64_t who, size_t wanted, Clock::time_point now)
{
    refill(now);
    if (appliedRate_ == 0 || wanted == 0)
        return wanted;
    if (const auto it = granted_.find(who); it != granted_.end()) {
        const size_t given = std::min(wanted, it->second);
        if ((it->second -= given) == 0)
            granted_.erase(it);
        return given;
    }
    const auto queued = std::find_if(line_.begin(), line_.end(), [who](const Waiter& w) { return w.who == who; });
    if (queued != line_.end()) {
        queued->wanted = wanted;
        return 0;
    }
    // Straight from the bucket only when nobody waits: otherwise this body would jump the line.
    const Waiter self{who, wanted};
    if (line_.empty() && tokens_ >= double(need(self))) {
        tokens_ -= double(need(self));
        return need(self);
    }
    line_.push_back(self);
    return 0;
}

void SendRateLimiter::grant(Clock::time_point now, std::vector<uint64_t>& woken)
{
    refill(now);
    if (appliedRate_ == 0) {
        for (const Waiter& waiter : line_)
            woken.push_back(waiter.who);
        line_.clear();
        return;
    }
    while (!line_.empty() && tokens_ >= double(need(line_.front()))) {
        const Waiter waiter = line_.front();
        line_.pop_front();
        tokens_ -= double(need(waiter));
        granted_[waiter.who] += need(waiter);
        woken.push_back(waiter.who);
    }
}

std::chrono::microseconds SendRateLimiter::untilNextGrant(Clock::time_point now)
{
    refill(now);
    if (appliedRate_ == 0 || line_.empty())
        return std::chrono::microseconds(0);
    const double missing = double(need(line_.front())) - tokens_;
    if (missing <= 0)
        return std::chrono::microseconds(0);
    return std::chrono::microseconds(int64_t(std::ceil(missing * 1e6 / double(appliedRate_))));
}

void SendRateLimiter::forget(uint64_t who)
{
    if (const auto it = granted_.find(who); it != granted_.end()) {
        tokens_ = std::min(capacity(), tokens_ + double(it->second));
        granted_.erase(it);
    }
    std::erase_if(line_, [who](const Waiter& w) { return w.who == who; });
}

}  // namespace zafrel
