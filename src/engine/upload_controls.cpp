// The controls of the window and the command line, and the run's reports to its manager.
#include "engine/upload_manager.h"

#include "engine/run/upload_run.h"
#include "engine/transfer/file_state.h"

#include <QDateTime>
#include <QtGlobal>

#include <algorithm>
#include <utility>

namespace zafrel {

void UploadManager::start()
{
    if (isRunning_)
        return;   // the run under way picks up whatever is queued now
    if (std::exchange(pauseCause_, std::nullopt))
        emit pauseCauseChanged();
    // Whatever waits now is this run's: the report of its end counts these and nothing older.
    const uint64_t number = lastRun_ ? lastRun_->number + 1 : 1;
    lastRun_ = RunRecord{number, QDateTime::currentDateTime(), std::nullopt, destDir_, 0};
    for (const ItemPtr& item : queue().items())
        if (item->status() == Status::Queued)
            item->run = number;
    setIsRunning(true);
    run_ = UploadRun::begin(resources_, api_, sinkLink_, UploadRun::Plan{number, bucket_, replaceOtherFiles_});
}

void UploadManager::transfersEnded()
{
    if (lastRun_)
        lastRun_->ended = QDateTime::currentDateTime();
}

void UploadManager::runFinished()
{
    setIsRunning(false);
    setSpeed(0);
    if (std::exchange(resumeWhenIdle_, false))
        resumePaused();
    else if (queue().firstQueued())
        start();   // queued while the stopped run wound down: a row's "Reanudar", a retry
}

void UploadManager::cancel(const ItemPtr& item)
{
    if (item->isActive()) {
        // A running transfer watches its item, stops on its own and aborts its upload; a queued
        // item never gets that far, so its open upload (a continued one) is aborted here.
        if (item->status() == Status::Queued)
            discardUploadLater(item);
        item->setStatus(Status::Cancelled);
        item->setError(std::nullopt);
    } else {
        // Removed from the queue, an open upload could never be continued or completed.
        if (item->status() != Status::Done)
            discardUploadLater(item);
        std::vector<ItemPtr> kept;
        kept.reserve(queue().items().size());
        std::copy_if(queue().items().begin(), queue().items().end(), std::back_inserter(kept),
                     [&](const ItemPtr& other) { return other->id != item->id; });
        keepOnly(std::move(kept));
    }
    persistNow();
}

void UploadManager::cancelAll()
{
    for (const ItemPtr& item : queue().items()) {
        if (item->status() == Status::Queued)
            discardUploadLater(item);   // running ones abort their own
        if (item->isActive())
            item->setStatus(Status::Cancelled);
    }
    // Reaches every transfer of the run; the run then finds nothing queued and winds down. A stop
    // requested on a run that has already ended changes nothing.
    if (run_)
        run_->stop();
    persistNow();
}

void UploadManager::queueAgain(const ItemPtr& item)
{
    item->errorDetail.clear();
    item->setError(std::nullopt);
    if (item->uploadId) {
        // The parts already verified are kept: the transfer continues with the missing ones, or
        // starts anew when the file changed or the service no longer knows the upload.
        item->setLoaded(item->storedBytes());
    } else {
        // From the beginning: the file as it is now is what gets sent and checked.
        const std::optional<FileState> now = currentFileState(item->path);
        item->startAnew(now ? now->size : item->size, now ? now->mtime : item->mtime);
    }
    item->setStatus(Status::Queued);
    joinRun(*item);
}

bool UploadManager::runTakesNewFiles() const
{
    return isRunning_ && lastRun_ && !lastRun_->ended && !(run_ && run_->stopRequested());
}

void UploadManager::joinRun(UploadItem& item) const
{
    if (runTakesNewFiles())
        item.run = lastRun_->number;
}

void UploadManager::pause(const ItemPtr& item)
{
    if (item->status() == Status::Queued)
        item->setStatus(Status::Paused);
    else if (item->status() == Status::Running && item->transferStop)
        item->transferStop->request_stop();   // it ends paused once its requests have let go
    persistNow();
}

void UploadManager::retry(const ItemPtr& item)
{
    queueAgain(item);
    start();
}

void UploadManager::replace(const ItemPtr& item)
{
    item->replaceAllowed = true;
    retry(item);
}

void UploadManager::resumePaused()
{
    // A stopped run would only pause them again: they go on in a run of their own.
    if (isRunning_ && run_ && run_->stopRequested()) {
        resumeWhenIdle_ = true;
        return;
    }
    for (const ItemPtr& item : queue().items()) {
        if (item->status() == Status::Paused)
            queueAgain(item);
    }
    start();
}

void UploadManager::clearFinished()
{
    std::vector<ItemPtr> kept;
    kept.reserve(queue().items().size());
    for (const ItemPtr& item : queue().items()) {
        const Status s = item->status();
        if (s == Status::Queued || s == Status::Running || s == Status::Paused)
            kept.push_back(item);
        else if (s != Status::Done)
            discardUploadLater(item);   // a failed upload nothing will continue any more
    }
    keepOnly(std::move(kept));
    offloadNotices_.clear();   // they were about the files just cleared
    offloadNoticeRuns_.clear();
    persistNow();
}

}  // namespace zafrel
