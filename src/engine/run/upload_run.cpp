// The run loop, and the upload starts it asks ahead of a small file's turn. A small file is mostly
// round trips: the upload start at the service, then its one request to the store. Starting the
// next files while the current ones send lets each file's request go out as soon as it has its
// permit.
#include "engine/run/upload_run.h"

#include "client/zafrel_api.h"
#include "engine/queue/upload_queue.h"
#include "engine/run/listing_cache.h"
#include "engine/run/run_resources.h"
#include "engine/run/run_sink.h"
#include "engine/service_origin.h"
#include "engine/transfer/transfer_job.h"
#include "platform/async_latch.h"

#include <QDateTime>
#include <QtGlobal>

#include <algorithm>
#include <functional>
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

// transferFile(), keeping the counts of files in flight (`running`, and `largeRunning` for a file
// above singlePutMax) up to date however it ends.
QCoro::Task<void> uploadCounted(TransferContext& ctx, ItemPtr it, bool large, int& running, int& largeRunning,
                                AsyncSemaphore& sem, std::stop_token stop)
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

QCoro::Task<void> makeStartAhead(TransferContext& ctx, ItemPtr it, std::shared_ptr<StartAhead> start,
                                 std::stop_token stop)
{
    std::exception_ptr failure;
    try {
        start->init = co_await askUploadStart(ctx, std::move(it), stop);
    } catch (...) {
        // The file meets the failure at its turn, as if it had asked then.
        failure = std::current_exception();
    }
    start->done.finish(failure);
}

}  // namespace

// Begun with the run itself, before its starter writes the queue file: the route's measurement
// and the listing of the first file's folder change nothing at the service, so they need not wait
// for that write, and the listing does not depend on the route.
struct UploadRun::Opening {
    struct Pull {
        std::stop_source source;
        void operator()() { source.request_stop(); }
    };

    explicit Opening(const std::stop_token& run) : pullsListing(run, Pull{listingStop}) {}

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

    std::optional<QCoro::Task<void>> route;   // its measurement, when no run has decided it yet
    AsyncLatch routeCertain;                   // the uploads' route is known, or the measurement ended
    std::optional<QCoro::Task<void>> listing;
    std::stop_source listingStop;   // the run's stop, or the run ending without it
    std::stop_callback<Pull> pullsListing;
};

TransferContext makeTransferContext(RunResources& r, ZafrelAPI& api, bool replaceOtherFiles,
                                    std::shared_ptr<const RunSinkLink> sink)
{
    return TransferContext{
        api,
        *r.session,
        r.limits,
        r.listings,
        r.suspects,
        r.records,
        r.partBuffers,
        r.store,
        r.startsAhead,
        serviceOrigin(api),
        // Unset while the probe still measures a route already certain: the direct one.
        r.probe.accelerate().value_or(false),
        replaceOtherFiles,
        [sink](qint64 n) {
            if (sink->sink)
                sink->sink->bytesSent(n);
        },
        [sink](PauseCause cause) {
            if (sink->sink)
                sink->sink->pauseRun(cause);
        },
    };
}

UploadRun::UploadRun(std::shared_ptr<RunResources> resources, ZafrelAPI& api, std::shared_ptr<const RunSinkLink> sink,
                     Plan plan)
    : resources_(std::move(resources)),
      api_(api),
      sink_(std::move(sink)),
      plan_(std::move(plan)),
      opening_(std::make_unique<Opening>(stop_.get_token()))
{
}

UploadRun::~UploadRun() = default;

std::shared_ptr<UploadRun> UploadRun::begin(std::shared_ptr<RunResources> resources, ZafrelAPI& api,
                                            std::shared_ptr<const RunSinkLink> sink, Plan plan)
{
    std::shared_ptr<UploadRun> run(new UploadRun(std::move(resources), api, std::move(sink), std::move(plan)));
    RunResources& r = *run->resources_;
    if (!r.probe.accelerate()) {
        if (const ItemPtr first = r.queue.firstQueued())
            run->opening_->listing = listAhead(r.listings, first->destDir, run->opening_->listingStop.get_token());
        run->opening_->route = run->measureRoute();
    }
    spawn([run] { return run->windDown(); });
    return run;
}

QCoro::Task<void> UploadRun::measureRoute()
{
    Opening& opening = *opening_;
    const std::function<void()> certain = [&opening] { opening.routeCertain.finish(); };
    QCoro::Task<std::optional<RouteDecision>> measuring =
        resources_->probe.run(*resources_->session, plan_.bucket, stop_.get_token(), certain);
    const std::optional<RouteDecision> route = co_await measuring;
    opening.routeCertain.finish();   // also when it ended undecided
    if (route && sink_->sink)
        sink_->sink->routeDecided(*route);
}

QCoro::Task<void> UploadRun::windDown()
{
    if (!sink_->sink) {
        co_await opening_->settle();   // it ends on the stop the manager pulled as it went
        co_return;                     // the manager went before the run could begin
    }
    try {
        co_await sendQueue();
    } catch (const std::exception& e) {
        // Nothing in the run throws by design; should something, the run still winds down so that
        // the queue does not stay "running" for good.
        qCritical("upload run ended by an unexpected error: %s", e.what());
    }
    co_await opening_->settle();
    // The run ends with its transfers: the end notice to the service (tried once, however long it
    // takes) is not its time, and files queued from now on are the next run's.
    if (sink_->sink)
        sink_->sink->transfersEnded();
    // The service hears of the end while the records and the queue file are written, both before
    // anyone hears of it: a command line then exits without waiting for another write. What
    // changes the queue meanwhile (a drop, a cancel, a pause) writes it itself.
    QCoro::Task<void> told = api_.uploadDone();
    resources_->records.flush();
    if (sink_->sink)
        resources_->store.persistNow();
    co_await told;
    if (sink_->sink)
        sink_->sink->runFinished();
}

QCoro::Task<void> UploadRun::sendQueue()
{
    RunResources& resources = *resources_;
    // An idle program keeps no part buffers (up to 8 × 32 MiB), however the run ends.
    struct ReleaseBuffers {
        PartBufferPool& pool;
        ~ReleaseBuffers() { pool.clear(); }
    } releaseBuffers{resources.partBuffers};
    const EngineLimits& limits = resources.limits;
    const std::stop_token stop = stop_.get_token();
    if (opening_->route) {
        co_await opening_->routeCertain.wait();
        if (!sink_->sink)
            co_return;
    }
    // Made once the route is known, which every transfer of the run takes.
    TransferContext ctx = makeTransferContext(resources, api_, plan_.replaceOtherFiles, sink_);

    // Every file shares the part permits: a part or a single request holds its share while its
    // body is in memory, so the bodies of a run stay within partsParallel × minPart.
    AsyncSemaphore parts(limits.partsParallel);
    TaskGroup<void> group(stop);
    int running = 0;
    int largeRunning = 0;
    // A large file that must wait for its turn holds back the files behind it, so that the files
    // still start in queue order; an earlier item queued again goes before later ones.
    // Once the manager has gone, the run only waits for what it had started.
    const auto fill = [&] {
        if (!sink_->sink)
            return;
        while (running < limits.smallFilesParallel) {
            ItemPtr next = resources.queue.firstQueued();
            if (!next)
                break;
            const bool large = next->size > limits.singlePutMax;
            if (large && largeRunning >= limits.filesParallel)
                break;
            next->setStatus(Status::Running);
            next->run = plan_.number;
            ++running;
            largeRunning += large ? 1 : 0;
            group.add(uploadCounted(ctx, std::move(next), large, running, largeRunning, parts, group.token()));
        }
        // A folder's listing goes once no file of it is in flight or next in line.
        const ItemPtr next = resources.queue.firstQueued();
        ctx.listings.dropUnheld(next ? std::optional(next->destDir) : std::nullopt);
        startAheadOfTurn(ctx, group);
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
    } while (sink_->sink && !stop.stop_requested() && sink_->sink->queueFollowUps());
    // Before the listings go: one that ends later must not be left for the next run.
    co_await opening_->settle();
    resources.startsAhead.clear();
    resources.listings.clear();
}

void UploadRun::startAheadOfTurn(TransferContext& ctx, TaskGroup<void>& group)
{
    if (int(ctx.startsAhead.size()) >= ctx.limits.startsAhead) {
        // Starts that nothing will take any more (their item was cancelled, or was skipped after
        // all) make room for new ones. A running item has not taken its start yet (it waits for
        // its permits or its read): dropping that one would have it ask the service again.
        std::erase_if(ctx.startsAhead, [](const auto& entry) {
            const ItemPtr item = entry.second->item.lock();
            return entry.second->done.finished()
                   && (!item || (item->status() != Status::Queued && item->status() != Status::Running));
        });
    }
    // Only a few places past the last pick are looked at, so that a pick stays cheap whatever the
    // queue holds. Only files whose name the folder's listing does not hold: a start costs the
    // service a request, which a file that turns out to be there already (or refused because
    // another file holds its name) must not cost.
    const std::vector<ItemPtr>& items = resources_->queue.items();
    const size_t from = resources_->queue.pickPosition();
    const size_t end = std::min(items.size(), from + size_t(4 * ctx.limits.startsAhead));
    for (size_t i = from; i < end && int(ctx.startsAhead.size()) < ctx.limits.startsAhead; ++i) {
        const ItemPtr& item = items[i];
        if (item->status() != Status::Queued || item->size > ctx.limits.singlePutMax || item->uploadId()
            || !ctx.listings.has(item->destDir) || ctx.listings.listedSize(item->destDir, item->name) || ctx.startsAhead.contains(item->id))
            continue;
        auto start = std::make_shared<StartAhead>();
        start->item = item;
        start->size = item->size;
        ctx.startsAhead.emplace(item->id, start);
        group.add(makeStartAhead(ctx, item, std::move(start), group.token()));
    }
}

}  // namespace zafrel
