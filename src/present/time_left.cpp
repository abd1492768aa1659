#include "present/time_left.h"

#include <algorithm>
#include <cmath>

namespace zafrel {

namespace {
// How much each new speed reading moves the estimate: about the last ten seconds count.
constexpr double kSmoothing = 0.1;
}  // namespace

void TimeLeft::restart(Clock::time_point now)
{
    firstBytes_.reset();
    smoothedSpeed_.reset();
    started_ = now;
    last_ = now;
}

std::optional<double> TimeLeft::update(Clock::time_point now, qint64 remaining, double speed)
{
    if (speed <= 0 || remaining < 0) {
        // Nothing moves: an estimate from the speed before would stand still and lie. It settles
        // anew once bytes move again.
        firstBytes_.reset();
        smoothedSpeed_.reset();
        last_ = now;
        return std::nullopt;
    }
    if (!firstBytes_)
        firstBytes_ = now;
    const double elapsed = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    // An exponential average over time, so a faster redraw does not weigh the latest burst more.
    const double weight = smoothedSpeed_ ? 1.0 - std::pow(1.0 - kSmoothing, std::max(elapsed, 0.0)) : 1.0;
    smoothedSpeed_ = smoothedSpeed_ ? *smoothedSpeed_ + weight * (speed - *smoothedSpeed_) : speed;
    if (now - *firstBytes_ < kSettling)
        return std::nullopt;
    return double(remaining) / *smoothedSpeed_;
}

QString timeLeftText(std::optional<double> seconds)
{
    if (!seconds)
        return QStringLiteral("calculando…");
    const auto total = static_cast<long long>(std::ceil(std::max(*seconds, 0.0)));
    if (total < 60)
        return QStringLiteral("quedan %1 s").arg(std::max<long long>(total, 1));
    const long long minutes = (total + 30) / 60;
    if (minutes < 60)
        return QStringLiteral("quedan %1 min").arg(minutes);
    return QStringLiteral("quedan %1 h %2 min").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace zafrel
