#include "engine/speed_meter.h"

#include "engine/upload_manager.h"

namespace zafrel {

namespace speed_meter {

std::optional<double> record(std::deque<Sample>& samples, qint64& totalSent, qint64 n, Clock::time_point now)
{
    totalSent += n;
    samples.emplace_back(now, totalSent);
    while (now - samples.front().first > window)
        samples.pop_front();   // never the sample just added
    const auto& [oldestTime, oldestTotal] = samples.front();
    const auto span = now - oldestTime;
    if (span <= minimumSpan)
        return std::nullopt;
    return double(totalSent - oldestTotal) / std::chrono::duration<double>(span).count();
}

}  // namespace speed_meter

void UploadManager::recordSent(qint64 n)
{
    if (const auto rate = speed_meter::record(samples, totalSent, n, speed_meter::Clock::now()))
        setSpeed(*rate);
}

}  // namespace zafrel
