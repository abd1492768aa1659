// The controls of the window and the command line: intake, runs, single files, accounts.
#include "engine/upload_manager.h"

#include "client/records.h"
#include "engine/destination/destination_histories.h"
#include "engine/intake/intake.h"
#include "engine/intake/intake_scan.h"
#include "engine/queue/queue_accounts.h"
#include "engine/queue/queue_owners.h"
#include "engine/report.h"
#include "engine/run/run_resources.h"
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
    for (const ItemPtr& item : items())
        if (item->status() == Status::Queued)
            item->run = number;
    setIsRunning(true);
    run_ = UploadRun::begin(resources_, api_, sinkLink_, UploadRun::Plan{number, bucket_, replaceOtherFiles_});
}

void UploadManager::cancel(const ItemPtr& item)
{
    if (item->isActive()) {
        // A running transfer watches its item, stops on its own and aborts its upload; a queued
        // item never gets that far, so its open upload (a continued one) is aborted here.
        if (item->status() == Status::Queued)
            discardUploadLater(api_, *item);
        item->setStatus(Status::Cancelled);
        item->setError(std::nullopt);
    } else {
        // Removed from the queue, an open upload could never be continued or completed.
        if (item->status() != Status::Done)
            discardUploadLater(api_, *item);
        std::vector<ItemPtr> kept;
        kept.reserve(items().size());
        std::copy_if(items().begin(), items().end(), std::back_inserter(kept),
                     [&](const ItemPtr& other) { return other->id != item->id; });
        queue().keepOnly(std::move(kept));
    }
    persistNow();
}

void UploadManager::cancelAll()
{
    for (const ItemPtr& item : items()) {
        if (item->status() == Status::Queued)
            discardUploadLater(api_, *item);   // running ones abort their own
        if (item->isActive())
            item->setStatus(Status::Cancelled);
    }
    // A stop requested on a run that has already ended changes nothing.
    if (run_)
        run_->stop();   // reaches every transfer; the run then finds nothing queued and winds down
    persistNow();
}

void UploadManager::queueAgain(const ItemPtr& item)
{
    item->clearError();
    if (item->uploadId()) {
        // The parts already verified are kept: the transfer continues with the missing ones, or
        // starts anew when the file changed or the service no longer knows the upload.
        item->setLoaded(item->storedBytes());
    } else {
        // From the beginning: the file as it is now is what gets sent and checked.
        const std::optional<FileState> now = currentFileState(item->path);
        item->startAnew(now ? now->size : item->size, now ? now->mtime : item->mtime);
    }
    item->setStatus(Status::Queued);
    if (const std::optional<uint64_t> run = runJoined())
        item->run = *run;
}

bool UploadManager::runTakesNewFiles() const
{
    return isRunning_ && lastRun_ && !lastRun_->ended && !(run_ && run_->stopRequested());
}

std::optional<uint64_t> UploadManager::runJoined() const
{
    return runTakesNewFiles() ? std::optional(lastRun_->number) : std::nullopt;
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
    for (const ItemPtr& item : items()) {
        if (item->status() == Status::Paused)
            queueAgain(item);
    }
    start();
}

void UploadManager::clearFinished()
{
    std::vector<ItemPtr> kept;
    kept.reserve(items().size());
    for (const ItemPtr& item : items()) {
        const Status s = item->status();
        if (s == Status::Queued || s == Status::Running || s == Status::Paused)
            kept.push_back(item);
        else if (s != Status::Done)
            discardUploadLater(api_, *item);   // a failed upload nothing will continue any more
    }
    queue().keepOnly(std::move(kept));
    offloadNotices_->clear();   // they were about the files just cleared
    persistNow();
}

std::vector<IntakeProblem> UploadManager::add(const QList<QUrl>& urls, const QString& bucket)
{
    return add(scanForIntake(urls, destDir_, histories_->starts()), bucket);
}

std::vector<IntakeProblem> UploadManager::add(const IntakeScan& scan, const QString& bucket)
{
    bucket_ = bucket;
    std::vector<ItemPtr> fresh = itemsToQueue(scan, items(), account_);
    if (!scan.histories.empty())
        histories_->take(scan, fresh, queue());
    const bool anyNew = !fresh.empty();
    appendItems(std::move(fresh));
    // The files went to the run under way, or to the one start() begins below.
    const uint64_t run = runTakesNewFiles() ? lastRun_->number : (lastRun_ ? lastRun_->number : 0) + 1;
    offloadNotices_->add(scan.notices, run);

    // Before the files are written: what start() begins at once goes on meanwhile, and nothing is
    // sent to the store before they are on disk (the run's transfers begin on a later turn).
    start();
    if (anyNew && account_)
        saveOwners();
    persistNow();
    return scan.problems;
}

void UploadManager::resumeMatching(const IntakeScan& scan)
{
    // Queued again as retry() does: a failed item left alone would be queued a second time beside
    // it, and its stale failure would keep the run's result at "error" after the file went up. An
    // open multipart upload goes on with its verified parts, unless its file changed since; the
    // items the command does not name stay as they are.
    for (const ItemPtr& item : leftoversNamedBy(scan, items()))
        queueAgain(item);
}

void UploadManager::setAccount(const User& user)
{
    auto account = std::make_shared<const QueueOwner>(ownerOf(user, serviceOrigin()));
    const bool another = !account_ || !(*account_ == *account);
    // A transfer still under way would go on with the new account's session.
    if (account_ && another && (isRunning_ || std::ranges::any_of(items(), [](const ItemPtr& i) { return i->isActive(); })))
        pauseAll();
    account_ = std::move(account);
    separateAccounts(queue(), account_, queuePath());
    if (!another)
        return;
    setDestDir(destinationOnSignIn(*account_, destDir_));
    emit accountChanged();
}

void UploadManager::pauseAll(std::optional<PauseCause> cause)
{
    if (cause && !pauseCause_) {
        pauseCause_ = cause;
        emit pauseCauseChanged();
    }
    for (const ItemPtr& item : items())
        if (item->status() == Status::Queued)
            item->setStatus(Status::Paused);
    // Running transfers end paused on the stop, keeping their verified parts. A stop requested on
    // a run that has already ended changes nothing.
    if (run_)
        run_->stop();
    persistNow();
}

QCoro::Task<UploadManager::Forgotten> UploadManager::forgetLeftovers()
{
    // Taken from the list before anything is awaited: the list may be replaced meanwhile.
    std::vector<ItemPtr> taken = items();
    Forgotten result = co_await zafrel::forgetLeftovers(api_, std::move(taken));
    queue().keepOnly(std::move(result.remaining));
    persistNow();
    co_return result;
}

}  // namespace zafrel
