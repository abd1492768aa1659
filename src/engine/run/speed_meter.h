#pragma once
#include <QtGlobal>

#include <chrono>
#include <deque>
#include <optional>
#include <utility>

namespace zafrel {

// The transfer rate over a sliding window: the bytes sent during the last 4 seconds, measured from
// the oldest sample inside the window, recomputed only once that window spans more than half a
// second (so a burst right after a pause does not read as an absurd rate).
class SpeedMeter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds window{4000};
    static constexpr std::chrono::milliseconds minimumSpan{500};

    // Counts n more bytes sent at `now`, dropping samples older than the window. Answers the new
    // rate in bytes per second, or nothing when the rate keeps its value.
    std::optional<double> record(qint64 n, Clock::time_point now = Clock::now());

    // The rate the last window supports at `now`: the bytes sent since its oldest sample over the
    // time since then (at least minimumSpan). Falls to zero as time passes without bytes.
    double rateAt(Clock::time_point now = Clock::now()) const;

    qint64 totalSent() const { return totalSent_; }
    size_t samplesInWindow() const { return samples_.size(); }

private:
    // (time, total sent just after this sample's bytes were added), oldest first.
    std::deque<std::pair<Clock::time_point, qint64>> samples_;
    qint64 totalSent_ = 0;
};

}  // namespace zafrel
