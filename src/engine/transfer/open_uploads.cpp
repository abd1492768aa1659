// What becomes of an open multipart upload that will not be continued. The store keeps (and bills)
// the parts of an upload until it is completed or aborted, so every upload the engine lets go of
// (a cancel, a retry of a changed file, a plan that cannot be used, a queue entry whose file is
// gone) is aborted at the service first.
#include "engine/transfer/open_uploads.h"

#include "client/zafrel_api.h"
#include "engine/transfer/file_state.h"
#include "engine/transfer/part_plan.h"
#include "engine/queue/queue_store.h"
#include "platform/async.h"

namespace zafrel {

QCoro::Task<void> reviewOpenUpload(TransferContext& ctx, ItemPtr it)
{
    auto examine = [path = it->path] { return currentFileState(path); };
    const std::optional<FileState> now = co_await runInPool(std::move(examine));
    // A file that cannot be examined (a card not mounted yet) keeps its upload: the transfer fails
    // on reading it, and the parts are still there when it comes back.
    if (!now)
        co_return;
    const bool unchanged = now->size == it->size && now->mtime == it->mtime;
    // An edited queue file may name a part size the store would refuse, or one so small that the
    // parts would be countless.
    const bool usable = it->key() && partCount(it->size, it->partSize(), ctx.limits.minPart);
    if (unchanged && usable)
        co_return;
    // Old parts never go into an object with new content: the upload is dropped and the file, as
    // it is now, is sent anew.
    co_await discardUpload(ctx.api, it);
    it->startAnew(now->size, now->mtime);
    ctx.store.persist(*it);
}

QCoro::Task<void> discardUpload(ZafrelAPI& api, ItemPtr it)
{
    if (std::optional<UploadItem::OpenUpload> open = it->forgetUpload())
        co_await api.abort(std::move(open->key), std::move(open->uploadId));
}

}  // namespace zafrel
