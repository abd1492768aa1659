#pragma once
#include "present/time_left.h"

#include <QDateTime>

#include <chrono>

namespace zafrel {

class UploadManager;

// The one line on standard error that tells a person at a terminal how the run goes: files and
// bytes done of the run's total, the speed, the time left and the file in hand. Nothing at all
// when standard error is not a terminal, so logs stay clean; standard output is never touched.
class TerminalProgress {
public:
    explicit TerminalProgress(const UploadManager& manager);
    ~TerminalProgress();   // erases the line

    // Redraws the line, at most four times a second however often it is called.
    void update();
    // Erases the line: called before the report.
    void clear();

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kMinimumInterval{250};

    const UploadManager& manager_;
    const bool enabled_;
    const uint64_t firstRun_;   // the command's first run: a second one after signing in again adds to it
    TimeLeft timeLeft_;
    Clock::time_point lastDrawn_{};
};

}  // namespace zafrel
