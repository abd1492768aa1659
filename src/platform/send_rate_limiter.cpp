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
    m_rate.store(std::max<int64_t>(0, bytesPerSecond), std::memory_order_relaxed);
}

double SendRateLimiter::capacity() const
{
    return std::max(kSmallestCapacity, double(m_appliedRate) * kBurstSeconds);
}

void SendRateLimiter::refill(Clock::time_point now)
{
    const int64_t rate = m_rate.load(std::memory_order_relaxed);
    if (rate != m_appliedRate) {
        // A new cap starts with an empty bucket: no burst at the old rate's size.
        m_appliedRate = rate;
        m_tokens = 0;
        m_last = now;
        return;
    }
    if (rate == 0)
        return;
    const double seconds = std::chrono::duration<double>(now - m_last).count();
    if (seconds > 0)
        m_tokens = std::min(capacity(), m_tokens + seconds * double(rate));
    m_last = now;
}

size_t SendRateLimiter::take(size_t wanted, Clock::time_point now)
{
    refill(now);
    if (m_appliedRate == 0)
        return wanted;
    const size_t granted = std::min(wanted, size_t(std::max(0.0, std::floor(m_tokens))));
    m_tokens -= double(granted);
    return granted;
}

std::chrono::microseconds SendRateLimiter::untilRefilled(Clock::time_point now)
{
    refill(now);
    if (m_appliedRate == 0)
        return std::chrono::microseconds(0);
    const double missing = capacity() * kWakeShare - m_tokens;
    if (missing <= 0)
        return std::chrono::microseconds(0);
    return std::chrono::microseconds(int64_t(std::ceil(missing * 1e6 / double(m_appliedRate))));
}

}  // namespace zafrel
