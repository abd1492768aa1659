#pragma once
// A run's progress over the whole queue and the outcomes of its files, in numbers: what the window
// and the terminal put into words (present/), and the counts line of the run's report.
#include "engine/queue/upload_item.h"

#include <QString>

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

// The counts line of the run's report, which an idle queue's footer shows too: every outcome
// counted, with its plural.
QString finishedText(const Summary& summary);

// "1 archivo" / "2 archivos": `count`, a blank and the singular or plural word.
QString counted(int count, const QString& singular, const QString& plural);

}  // namespace zafrel
