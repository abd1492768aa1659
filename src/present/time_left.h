#pragma once
// The time left of a run as the window's footer and the terminal's progress line say it.
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <optional>

namespace zafrel {

// The time left of a run, from the bytes still to send and the measured speed, smoothed so that
// it does not jump with every burst. Nothing until it means something: the run has sent bytes for
// a few seconds at a measured speed.
class TimeLeft {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kSettling{5};

    void restart(Clock::time_point now);
    // Seconds left, or nothing while it would be a guess.
    std::optional<double> update(Clock::time_point now, qint64 remaining, double speed);

private:
    std::optional<Clock::time_point> firstBytes_;
    std::optional<double> smoothedSpeed_;
    Clock::time_point started_;
    Clock::time_point last_;
};

// "quedan 40 s", "quedan 3 min", "quedan 1 h 05 min"; "calculando…" without an estimate.
QString timeLeftText(std::optional<double> seconds);

}  // namespace zafrel
