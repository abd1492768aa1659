#include "engine/speed_meter.h"

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

}  // namespace zafrel
