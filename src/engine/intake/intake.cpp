// Taking files into the queue: a drop, the file chooser or a command line's paths.
#include "engine/intake/intake_scan.h"
#include "engine/upload_manager.h"

#include <QHash>
#include <QSet>

#include <utility>
#include <vector>

namespace zafrel {

std::vector<IntakeProblem> UploadManager::add(const QList<QUrl>& urls, const QString& bucket)
{
    return add(scanForIntake(urls, destDir_, startHistories_), bucket);
}

std::vector<IntakeProblem> UploadManager::add(const IntakeScan& scan, const QString& bucket)
{
    bucket_ = bucket;

    // Only items that still wait or hold a place block a second copy; finished, failed and
    // cancelled ones do not. New items are not compared with each other.
    QSet<QString> taken;
    for (const ItemPtr& item : queue().items()) {
        const Status s = item->status();
        if (s == Status::Queued || s == Status::Running || s == Status::Paused)
            taken.insert(item->queueKey());
    }
    std::vector<ItemPtr> fresh;
    fresh.reserve(scan.files.size());
    for (const ScannedFile& file : scan.files) {
        auto item = std::make_shared<UploadItem>(QUuid::createUuid(), file.path, file.size, file.mtime, file.destDir);
        item->owner = account_;
        item->offloadRecord = file.record;
        if (taken.isEmpty() || !taken.contains(item->queueKey()))
            fresh.push_back(std::move(item));
    }
    if (!scan.histories.empty())
        takeHistories(scan, fresh);
    const bool anyNew = !fresh.empty();
    appendItems(std::move(fresh));
    offloadNotices_.insert(offloadNotices_.end(), scan.notices.begin(), scan.notices.end());
    // The files went to the run under way, or to the one start() begins below.
    const uint64_t run = runTakesNewFiles() ? lastRun_->number : (lastRun_ ? lastRun_->number : 0) + 1;
    offloadNoticeRuns_.resize(offloadNotices_.size(), run);

    // Before the files are written: what start() begins at once goes on meanwhile, and nothing is
    // sent to the store before they are on disk (the run's transfers begin on a later turn).
    start();
    if (anyNew && account_)
        saveOwners();
    persistNow();
    return scan.problems;
}

// Continuing an interrupted command-line run. A run that was killed leaves its unfinished items in
// the queue file, where they come back paused (or in error). A paused item keeps add() from
// queueing the same file for the same place again, so the same command given once more would
// queue nothing, upload nothing and end as a success. This lets that command take its own
// leftovers up again: the items it would queue now continue where they stopped (a multipart upload
// keeps its stored parts, unless its file changed since), the others start from the beginning with
// the file as it is now, and items it does not name stay as they are.
void UploadManager::resumeMatching(const IntakeScan& scan)
{
    QHash<QString, const ScannedFile*> wanted;
    for (const ScannedFile& file : scan.files)
        wanted.insert(UploadItem::queueKey(file.path, file.destDir), &file);
    for (const ItemPtr& item : queue().items()) {
        const Status status = item->status();
        const ScannedFile* file = wanted.value(item->queueKey());
        if ((status != Status::Paused && status != Status::Error) || !file)
            continue;
        // The queue file keeps no offload records: the history read now is the one to check.
        item->offloadRecord = file->record;
        // Queued again as retry() does: a failed item left alone would be queued a second time
        // beside it, and its stale failure would keep the run's result at "error" after the file
        // went up. An open multipart upload goes on with its verified parts.
        queueAgain(item);
    }
}

}  // namespace zafrel
