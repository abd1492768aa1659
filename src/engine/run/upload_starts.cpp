// Upload starts asked for ahead of a small file's turn. A small file is mostly round trips: the
// upload start at the service, then its one request to the store. Starting the next files while
// the current ones send lets each file's request go out as soon as it has its permit.
#include "engine/transfer/transfer_job.h"
#include "engine/upload_manager.h"

#include <algorithm>
#include <utility>

namespace zafrel {

void UploadManager::startAheadOfTurn(TransferContext& ctx, TaskGroup<void>& group)
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
    const size_t end = std::min(items_.size(), pickFrom_ + size_t(4 * ctx.limits.startsAhead));
    for (size_t i = pickFrom_; i < end && int(ctx.startsAhead.size()) < ctx.limits.startsAhead; ++i) {
        const ItemPtr& item = items_[i];
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

QCoro::Task<void> UploadManager::makeStartAhead(TransferContext& ctx, ItemPtr it, std::shared_ptr<StartAhead> start,
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

}  // namespace zafrel
