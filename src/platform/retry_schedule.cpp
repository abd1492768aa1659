#include "platform/retry_schedule.h"

#include <atomic>
#include <cmath>

namespace zafrel::retry {

namespace {
std::atomic<double> waitScale{1.0};
}

std::chrono::milliseconds waitAfter(int attempt)
{
    const auto seconds = static_cast<long long>(0.8 * std::pow(2.0, attempt + 1));
    return scaled(std::chrono::seconds(seconds));
}

std::chrono::milliseconds scaled(std::chrono::milliseconds asked)
{
    return std::chrono::milliseconds(std::llround(double(asked.count()) * waitScale.load()));
}

void setWaitScaleForTests(double scale) { waitScale.store(scale); }

}  // namespace zafrel::retry
