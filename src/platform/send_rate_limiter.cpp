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
// A waiting transfer is woken when the bucket holds a twentieth of its capacity (12.5 ms worth):
// enough to keep the line busy, few enough wakeups (about 80 a second) to cost nothing.
constexpr double kWakeShare = 0.05;
}  // namespace

void SendRateLimiter::setRate(int64_t bytesPerSecond)
{
    rate_.store(std::max<int64_t>(0, bytesPerSecond), std::memory_order_relaxed);
}

double SendRateLimiter::capacity() const
{
    return std::max(kSmallestCapacity, double(appliedRate_) * kBurstSeconds);
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

size_t SendRateLimiter::take(size_t wanted, Clock::time_point now)
{
    refill(now);
    if (appliedRate_ == 0)
        return wanted;
    const size_t granted = std::min(wanted, size_t(std::max(0.0, std::floor(tokens_))));
    tokens_ -= double(granted);
    return granted;
}

std::chrono::microseconds SendRateLimiter::untilRefilled(Clock::time_point now)
{
    refill(now);
    if (appliedRate_ == 0)
        return std::chrono::microseconds(0);
    const double missing = capacity() * kWakeShare - tokens_;
    if (missing <= 0)
        return std::chrono::microseconds(0);
    return std::chrono::microseconds(int64_t(std::ceil(missing * 1e6 / double(appliedRate_))));
}

}  // namespace zafrel
