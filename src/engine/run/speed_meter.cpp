#include "engine/run/speed_meter.h"

#include <algorithm>

namespace zafrel {

std::optional<double> SpeedMeter::record(qint64 n, Clock::time_point now)
{
    totalSent_ += n;
    samples_.emplace_back(now, totalSent_);
    while (now - samples_.front().first > window)
        samples_.pop_front();   // never the sample just added
    const auto& [oldestTime, oldestTotal] = samples_.front();
    const auto span = now - oldestTime;
    if (span <= minimumSpan)
        return std::nullopt;
    return double(totalSent_ - oldestTotal) / std::chrono::duration<double>(span).count();
}

double SpeedMeter::rateAt(Clock::time_point now) const
{
    const auto oldest = std::find_if(samples_.begin(), samples_.end(),
                                     [&](const auto& sample) { return now - sample.first <= window; });
    if (oldest == samples_.end())
        return 0;
    const auto span = std::max<Clock::duration>(now - oldest->first, minimumSpan);
    return double(totalSent_ - oldest->second) / std::chrono::duration<double>(span).count();
}

}  // namespace zafrel
