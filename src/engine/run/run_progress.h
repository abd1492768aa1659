#pragma once
// What the window's footer, its title, the end-of-run notice and the terminal's progress line say about a run: its progress over
// the whole queue, the time left, and how it ended.
#include "engine/queue/upload_item.h"

#include <QString>

#include <chrono>
#include <optional>
#include <vector>

namespace zafrel {

struct Summary;

// The files of the runs numbered `firstRun` (UploadItem::run) and later: earlier runs' rows stay in
// the list but are not this work. The window follows one run; the command line all of its own,
// a second one after signing in again included.
struct RunProgress {
    int files = 0;       // in the run
    int finished = 0;    // of them, ended in any way
    int running = 0;
    int queued = 0;
    qint64 bytes = 0;    // total size of the run's files
    qint64 sent = 0;     // of it, sent or found already there
    int paused = 0;      // paused from their rows during the run: out of the counts above until resumed

    // 0 to 100, by bytes (by files when every file is empty).
    int percent() const;
};

RunProgress runProgress(const std::vector<ItemPtr>& items, uint64_t firstRun);

// The outcomes of the files of the run numbered `run`, paused and cancelled ones included: what
// the end-of-run notice and the run's report count, not the rows of earlier runs.
Summary runSummary(const std::vector<ItemPtr>& items, uint64_t run);

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

// Footer lines while a run goes on: "3 de 56 archivos · 150 MB de 2.1 GB · 22.3 MB/s · quedan 3 min"
// and "2 subiendo · 51 en cola" (with "· 1 en pausa" while files are paused).
QString runningText(const RunProgress& progress, double speed, std::optional<double> secondsLeft);
QString runningCounts(const RunProgress& progress);

// The footer line of an idle queue: every outcome counted, with its plural.
QString finishedText(const Summary& summary);
// Its symbol: the green check only when every file ended uploaded or already there.
QString finishedSymbol(const Summary& summary);
bool finishedCleanly(const Summary& summary);

// The desktop notice at the end of a long run.
struct RunNotice {
    QString title;
    QString body;
};
RunNotice runEndNotice(const Summary& summary);

// "1 archivo" / "2 archivos": `count`, a blank and the singular or plural word.
QString counted(int count, const QString& singular, const QString& plural);

}  // namespace zafrel
