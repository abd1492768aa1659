#include "engine/upload_manager.h"

#include "engine/transfer/file_state.h"
#include "engine/run/listing_cache.h"
#include "engine/transfer/transfer_job.h"
#include "platform/async.h"

#include <QDateTime>
#include <QtGlobal>

#include <algorithm>
#include <utility>

namespace zafrel {

namespace {

QCoro::Task<void> listAhead(ListingCache& listings, QString destDir, std::stop_token stop)
{
    try {
        co_await listings.fetch(std::move(destDir), stop);
    } catch (...) {
        // Nothing is kept: the file's own look at its folder asks again and meets the failure there.
    }
}

}  // namespace

// Begun by start() itself, before its caller writes the queue file: the route's measurement and
// the listing of the first file's folder change nothing at the service, so they need not wait for
// that write, and the listing does not depend on the route.
struct UploadManager::RunOpening {
    struct Pull {
        std::stop_source source;
        void operator()() { source.request_stop(); }
    };

    explicit RunOpening(const std::stop_token& run) : pullsListing(run, Pull{listingStop}) {}

    // Waits for what is still under way; a listing that nobody took any more is stopped first.
    QCoro::Task<void> settle()
    {
        if (route) {
            co_await *route;
            route.reset();
        }
        if (listing) {
            listingStop.request_stop();
            co_await *listing;
            listing.reset();
        }
    }

    std::optional<QCoro::Task<std::optional<QString>>> route;   // when no run has decided it yet
    std::optional<QCoro::Task<void>> listing;
    std::stop_source listingStop;   // the run's stop, or the run ending without it
    std::stop_callback<Pull> pullsListing;
};

void UploadManager::start()
{
    if (isRunning_)
        return;   // the run under way picks up whatever is queued now
    if (std::exchange(pauseCause_, std::nullopt))
        emit pauseCauseChanged();
    // Whatever waits now is this run's: the report of its end counts these and nothing older.
    const uint64_t number = lastRun_ ? lastRun_->number + 1 : 1;
    lastRun_ = RunRecord{number, QDateTime::currentDateTime(), std::nullopt, destDir_, 0};
    for (const ItemPtr& item : items_)
        if (item->status() == Status::Queued)
            item->run = number;
    setIsRunning(true);
    runTask_.emplace();
    const std::stop_token stop = runTask_->get_token();
    auto opening = std::make_shared<RunOpening>(stop);
    if (!resources_->probe.accelerate()) {
        if (const ItemPtr first = firstQueued())
            opening->listing = listAhead(resources_->listings, first->destDir, opening->listingStop.get_token());
        opening->route = resources_->probe.run(*resources_->session, bucket_, stop);
    }
    // The run itself begins on a later turn of the event loop: start() has returned by then.
    spawn([self = QPointer<UploadManager>(this), resources = resources_, &api = api_, stop, opening] {
        return runAndWindDown(self, resources, api, stop, opening);
    });
}

QCoro::Task<void> UploadManager::runAndWindDown(QPointer<UploadManager> self, std::shared_ptr<RunResources> resources,
                                                ZafrelAPI& api, std::stop_token stop, std::shared_ptr<RunOpening> opening)
{
    if (!self) {
        co_await opening->settle();   // it ends on the stop the manager pulled as it went
        co_return;                    // destroyed before the run could begin
    }
    try {
        co_await runQueue(self, *resources, stop, *opening);
    } catch (const std::exception& e) {
        // Nothing in the run throws by design; should something, the run still winds down so that
        // the queue does not stay "running" for good.
        qCritical("upload run ended by an unexpected error: %s", e.what());
    }
    co_await opening->settle();
    // The run ends with its transfers: the end notice to the service (tried once, however long it
    // takes) is not its time, and files queued from now on are the next run's.
    if (self && self->lastRun_)
        self->lastRun_->ended = QDateTime::currentDateTime();
    // The service hears of the end while the records and the queue file are written, both before
    // anyone hears of it: a command line then exits without waiting for another write. What
    // changes the queue meanwhile (a drop, a cancel, a pause) writes it itself.
    QCoro::Task<void> told = api.uploadDone();
    resources->records.flush();
    if (self)
        self->persistNow();
    co_await told;
    if (!self)
        co_return;
    self->setIsRunning(false);
    self->setSpeed(0);
    if (std::exchange(self->resumeWhenIdle_, false))
        self->resumePaused();
    else if (self->firstQueued())
        self->start();   // queued while the stopped run wound down: a row's "Reanudar", a retry
}

ItemPtr UploadManager::firstQueued()
{
    // Items before pickFrom_ were found not queued, and stay so until an item is queued again or
    // items leave the list: so a run over a long queue does not scan everything already
    // finished at every pick.
    if (pickGeneration_ != UploadItem::queuedGeneration()) {
        pickGeneration_ = UploadItem::queuedGeneration();
        pickFrom_ = 0;
    }
    while (pickFrom_ < items_.size() && items_[pickFrom_]->status() != Status::Queued)
        ++pickFrom_;
    return pickFrom_ < items_.size() ? items_[pickFrom_] : nullptr;
}

QCoro::Task<void> UploadManager::uploadCounted(TransferContext& ctx, ItemPtr it, bool large, int& running,
                                               int& largeRunning, AsyncSemaphore& sem, std::stop_token stop)
{
    struct Count {
        bool large;
        int& running;
        int& largeRunning;
        ~Count()
        {
            --running;
            largeRunning -= large ? 1 : 0;
        }
    } count{large, running, largeRunning};
    const ListingCache::Hold listing(ctx.listings, it->destDir);
    // The item's own stop, which the run's stop also pulls: a row's "Pausar" ends this transfer
    // alone, paused, with its verified parts and open upload kept.
    std::stop_source own;
    it->transferStop = own;
    struct ForgetStop {
        const ItemPtr& item;
        ~ForgetStop() { item->transferStop.reset(); }
    } forgetStop{it};
    const std::stop_callback pullsOwn(stop, [own]() mutable { own.request_stop(); });
    const std::stop_token ownToken = own.get_token();
    co_await transferFile(ctx, it, sem, ownToken);
}

QCoro::Task<void> UploadManager::runQueue(QPointer<UploadManager> self, RunResources& resources, std::stop_token stop,
                                         RunOpening& opening)
{
    // An idle program keeps no part buffers (up to 8 × 32 MiB), however the run ends.
    struct ReleaseBuffers {
        PartBufferPool& pool;
        ~ReleaseBuffers() { pool.clear(); }
    } releaseBuffers{resources.partBuffers};
    const EngineLimits& limits = resources.limits;
    if (opening.route) {
        const std::optional<QString> route = co_await *opening.route;
        opening.route.reset();
        if (!self)
            co_return;
        if (route)
            self->setRoute(*route);
    }
    // Made after the probe, whose decision every transfer of the run takes. Its calls to the
    // manager check that it is still there.
    TransferContext ctx = self->transferContext();

    // Every file shares the part permits: a part or a single request holds its share while its
    // body is in memory, so the bodies of a run stay within partsParallel × minPart.
    AsyncSemaphore parts(limits.partsParallel);
    TaskGroup<void> group(stop);
    int running = 0;
    int largeRunning = 0;
    // Every pick takes the first queued item in queue order, so items queued during the run
    // (intake, retry, resumePaused) join it, and an earlier item queued again goes before later
    // ones. Small files go up to smallFilesParallel at a time, large ones filesParallel at a time;
    // a large file that must wait for its turn holds back the files behind it, so that the files
    // still start in queue order.
    // Once the manager has gone, the run only waits for what it had started.
    const auto fill = [&] {
        if (!self)
            return;
        while (running < limits.smallFilesParallel) {
            ItemPtr next = self->firstQueued();
            if (!next)
                break;
            const bool large = next->size > limits.singlePutMax;
            if (large && largeRunning >= limits.filesParallel)
                break;
            next->setStatus(Status::Running);
            if (self->lastRun_)
                next->run = self->lastRun_->number;
            ++running;
            largeRunning += large ? 1 : 0;
            group.add(uploadCounted(ctx, std::move(next), large, running, largeRunning, parts, group.token()));
        }
        // A folder's listing goes once no file of it is in flight or next in line.
        const ItemPtr next = self->firstQueued();
        ctx.listings.dropUnheld(next ? std::optional(next->destDir) : std::nullopt);
        self->startAheadOfTurn(ctx, group);
    };
    // The group holds the transfers and the starts made ahead; neither throws, and the end of
    // either may let more files in. The histories of the folders now up go last, as files of the
    // run; a stopped run leaves them for the next.
    do {
        fill();
        while (group.size() > 0) {
            co_await group.next();
            fill();
        }
    } while (self && !stop.stop_requested() && self->advanceHistories());
    // Before the listings go: one that ends later must not be left for the next run.
    co_await opening.settle();
    resources.startsAhead.clear();
    resources.listings.clear();
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
        kept.reserve(items_.size());
        std::copy_if(items_.begin(), items_.end(), std::back_inserter(kept),
                     [&](const ItemPtr& other) { return other->id != item->id; });
        keepOnly(std::move(kept));
    }
    persistNow();
}

void UploadManager::cancelAll()
{
    for (const ItemPtr& item : items_) {
        if (item->status() == Status::Queued)
            discardUploadLater(item);   // running ones abort their own
        if (item->isActive())
            item->setStatus(Status::Cancelled);
    }
    // Reaches every transfer of the run; the run then finds nothing queued and winds down. A stop
    // requested on a run that has already ended changes nothing.
    if (runTask_)
        runTask_->request_stop();
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
    joinRun(*item);
}

bool UploadManager::runTakesNewFiles() const
{
    return isRunning_ && lastRun_ && !lastRun_->ended && !(runTask_ && runTask_->stop_requested());
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
    if (isRunning_ && runTask_ && runTask_->stop_requested()) {
        resumeWhenIdle_ = true;
        return;
    }
    for (const ItemPtr& item : items_) {
        if (item->status() == Status::Paused)
            queueAgain(item);
    }
    start();
}

void UploadManager::clearFinished()
{
    std::vector<ItemPtr> kept;
    kept.reserve(items_.size());
    for (const ItemPtr& item : items_) {
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
