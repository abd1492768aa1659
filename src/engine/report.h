#pragma once
#include "engine/queue/upload_item.h"
#include "engine/run/run_record.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace zafrel {

// What the offloads' histories of the files taken said that stops nothing (a recorded file that
// is not there, a file there without a record), and what a folder's history at the destination
// could not write, in the order met, each with the run it belongs to.
class OffloadNotices {
public:
    void add(const std::vector<QString>& more, uint64_t run);
    void clear();
    const std::vector<QString>& texts() const { return texts_; }
    // Those of `run`; without a run, all.
    std::vector<QString> of(const std::optional<RunRecord>& run) const;

private:
    std::vector<QString> texts_;
    std::vector<uint64_t> runs_;   // by position, one per text
};

// The items of `run` in queue order: those it took up, those queued while it went on, and how
// each ended; before any run, all of `items`.
std::vector<ItemPtr> itemsOfRun(const std::vector<ItemPtr>& items, const std::optional<RunRecord>& run);

// The window's report of a run, saved with it and shown in its sheet: local times with their
// zone, duration, average speed, every outcome counted, then one line per file (state, size,
// destination, MD5, source path), errors first, the notices of the run, and the MD5s of the files
// done in md5sum's format ("<hex>  <destination>"), so that a copy of the destination folder can
// be checked with `md5sum -c`. `destDir` stands for the run's destination before any run.
QString runReportText(const std::vector<ItemPtr>& files, const std::optional<RunRecord>& run, const QString& destDir,
                      const OffloadNotices& notices);

// The command line's report of the whole list: one line per item (state, size, destination), the
// totals and every notice.
QString queueReportText(const std::vector<ItemPtr>& items, const QString& destDir, const OffloadNotices& notices);

}  // namespace zafrel
