// Files above the single-request limit: an S3 multipart upload whose parts go several at a time,
// each verified by its MD5, their ETags kept on the item so that an interrupted upload continues
// with the missing parts only.
#include "engine/transfer/multipart.h"

#include "client/api_error.h"
#include "client/records.h"
#include "client/zafrel_api.h"
#include "engine/transfer/async_semaphore.h"
#include "engine/transfer/file_state.h"
#include "engine/transfer/ordered_file_digest.h"
#include "engine/transfer/part_buffer_pool.h"
#include "engine/transfer/part_plan.h"
#include "engine/transfer/part_reader.h"
#include "engine/transfer/upload_error.h"
#include "engine/queue/queue_store.h"
#include "engine/transfer/open_uploads.h"
#include "engine/transfer/put_request.h"
#include "engine/transfer/transfer_job.h"
#include "engine/transfer/url_cache.h"
#include "platform/async.h"
#include "platform/async_latch.h"
#include "platform/content_hash.h"
#include "platform/errors.h"
#include "platform/md5.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace zafrel {

namespace {

// What the part workers of one upload share. Workers take the missing parts in ascending order,
// one at a time, so that the tasks, and the memory they hold, do not grow with the number of
// parts: a worker holds a part only while it holds its permits.
struct PartRun {
    TransferContext& ctx;
    ItemPtr it;
    AsyncSemaphore& sem;
    int permits;   // taken by every part: its share of the run's part memory
    std::shared_ptr<PartReader> reader;
    std::shared_ptr<URLCache> urls;
    std::vector<int64_t> missing;
    size_t next = 0;
    // The whole file's MD5 and the offload record's format, over the parts in file order.
    std::shared_ptr<OrderedFileDigest> digest;
};

// Sends one part read into `bytes`; answers the store's ETag for it.
QCoro::Task<std::string> putPart(std::shared_ptr<PartRun> run, int64_t n, QByteArray bytes, std::stop_token stop)
{
    const std::string url = co_await run->urls->url(n);
    RenewTarget renew = [urls = run->urls, n]() -> QCoro::Task<PutTarget> {
        std::string fresh = co_await urls->renewed(n);
        co_return PutTarget{std::move(fresh), std::string()};
    };
    PutTarget target{url, std::string()};
    std::string etag = co_await putWithRetries(run->ctx, std::move(target), std::move(bytes), run->it, n, stop, std::move(renew));
    co_return etag;
}

QCoro::Task<void> sendPart(std::shared_ptr<PartRun> run, size_t index, std::stop_token stop)
{
    const int64_t n = run->missing[index];
    TransferContext& ctx = run->ctx;
    const ItemPtr& it = run->it;
    // Only the parts holding permits are in memory, each in a buffer of the run's pool, which goes
    // back before the permits (the lease ends first). Reading and hashing happen on the pool; the
    // job writes into the lent buffer, which nothing else touches until the job is done. (Jobs are
    // named locals: g++ 12 destroys a capturing lambda written inside a co_await expression twice.)
    PartBufferPool::Lease body = ctx.partBuffers.take(qsizetype(run->reader->expectedLength(n)));
    auto readPart = [reader = run->reader, n, &body] { reader->read(n, body.bytes); };
    co_await runInPool(std::move(readPart));
    // The part's own MD5 comes with the whole file's, in file order and in one pass over its bytes,
    // while it is being sent: the send does not wait for it, only its ETag check does. The
    // digesting coroutine shares the buffer until it ends: the lease must not end before (see
    // `fed` below).
    const auto fed = std::make_shared<AsyncLatch>();
    const auto md5 = std::make_shared<std::string>();
    spawn([digest = run->digest, index, bytes = body.bytes, fed, md5]() -> QCoro::Task<void> {
        std::exception_ptr error;
        try {
            std::string own = co_await digest->feed(index, bytes);
            *md5 = std::move(own);
        } catch (...) {
            error = std::current_exception();
        }
        fed->finish(error);
    });
    std::string etag;
    std::exception_ptr failure;
    try {
        // The transfer gets a shared copy: the lease keeps its own reference to give the buffer back.
        etag = co_await putPart(run, n, body.bytes, stop);
    } catch (...) {
        failure = std::current_exception();
    }
    std::exception_ptr digestFailure;
    try {
        co_await fed->wait();
    } catch (...) {
        digestFailure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(digestFailure ? digestFailure : failure);
    if (digestFailure) {
        // The whole file's digest was given up (a sibling failed, the run stopped, an earlier part
        // could not be read) before this part's turn, but the store holds the part: its MD5 alone
        // lets it be kept for the continuation.
        auto digestAlone = [&body] { return md5Hex(body.bytes); };
        *md5 = co_await runInPool(std::move(digestAlone));
    }
    if (!etagMatches(etag, *md5))
        throw UploadError::checksum();
    // Stored at once, also when a sibling has failed meanwhile: a verified part is worth keeping
    // for the continuation. Its bytes move from in flight to stored, so the other parts' bytes
    // still in flight keep counting.
    it->recordPart(n, QString::fromStdString(etag));
    ctx.store.persistPart(*it, n);
    if (digestFailure)
        std::rethrow_exception(digestFailure);
}

QCoro::Task<void> partWorker(std::shared_ptr<PartRun> run, std::stop_token stop)
{
    for (;;) {
        // Checked before the wait: a part that got past here is sent even when the item is
        // cancelled while it waits (the upload is then aborted once every part has ended).
        if (stop.stop_requested())
            throw Cancelled();
        if (run->it->status() == Status::Cancelled)
            throw UploadError::cancelled();
        if (run->next == run->missing.size())
            co_return;
        const size_t index = run->next++;

        // A part taken and never digested would hold up every later part's digest: whatever ends
        // this one ends those waits too.
        std::exception_ptr failure;
        try {
            co_await run->sem.wait(run->permits);
            PermitRelease release(run->sem, run->permits);
            // A part that waited while its siblings failed or the run stopped has nothing left to
            // do; the item's own cancel, in contrast, lets it go on (see above).
            if (stop.stop_requested())
                throw Cancelled();
            co_await sendPart(run, index, stop);
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) {
            run->digest->abandon();
            std::rethrow_exception(failure);
        }
    }
}

// Starts a new multipart upload for the item and checks the plan the service proposes. An
// unusable plan (parts above 5 GiB, more than 10,000 parts or none) is the service's fault: the
// upload it opened is aborted and nothing is sent.
QCoro::Task<void> startUpload(TransferContext& ctx, ItemPtr it, std::stop_token stop)
{
    const UploadInit init = co_await askUploadStart(ctx, it, stop);
    if (init.mode != "multipart" || !init.uploadId)
        throw APIError::decode();
    it->beginUpload(QString::fromStdString(init.key), QString::fromStdString(*init.uploadId),
                    std::max<qint64>(init.partSize.value_or(ctx.limits.minPart), ctx.limits.minPart));
    if (!partCount(it->size, it->partSize(), ctx.limits.minPart)) {
        co_await discardUpload(ctx.api, it);
        throw APIError::decode();
    }
    // On disk before any part is sent: an upload nobody knows of after a crash would keep its parts
    // stored (and billed) with nothing left to complete or abort it.
    ctx.store.persist(*it);
    ctx.store.flushPersisted();
}

// A completion whose answer got lost may have gone through all the same: a later attempt is then
// refused (the service no longer knows the upload), while the object stands at the destination
// with the file's size. Only asked after such a refusal, never instead of completing.
QCoro::Task<bool> completedEarlier(TransferContext& ctx, ItemPtr it, std::stop_token stop)
{
    std::optional<Listing> listing;
    try {
        listing = co_await ctx.api.ls(it->destDir.toStdString(), stop, ZafrelAPI::Retries::Transient);
    } catch (const APIError& e) {
        if (e.kind() != APIError::Kind::Http || e.code() != 404)
            throw;
    }
    if (listing)
        for (const FileEntry& file : listing->files)
            if (QString::fromStdString(file.name) == it->name && qint64(file.size) == it->size)
                co_return true;
    co_return false;
}

// The service refused to complete the upload outright (4xx): a stored part's ETag no longer
// matches, a part is missing at the store. The same parts would be refused on every attempt.
struct CompletionRefused {
    std::exception_ptr refusal;
};

bool isRefusal(const APIError& e)
{
    return e.kind() == APIError::Kind::Http && !e.retried() && e.code() >= 400 && e.code() < 500 && e.code() != 408
           && e.code() != 429;
}

// Sends the missing parts of the item's open upload and completes it.
QCoro::Task<void> sendMissingPartsAndComplete(TransferContext& ctx, ItemPtr it, AsyncSemaphore& sem,
                                              std::stop_token stop)
{
    const std::string key = it->key()->toStdString();
    const std::string uploadId = it->uploadId()->toStdString();
    const int64_t partSize = it->partSize();
    const std::optional<int64_t> planned = partCount(it->size, partSize, ctx.limits.minPart);
    if (!planned)
        throw APIError::decode();
    const int64_t total = *planned;

    // ETags for part numbers this file does not have (an edited queue file) would spoil completion.
    it->keepPartsUpTo(total);

    auto run = std::make_shared<PartRun>(PartRun{ctx, it, sem,
                                                 permitsPerPart(partSize, ctx.limits.minPart, sem.capacity()),
                                                 nullptr, nullptr, {}, 0, nullptr});
    for (int64_t n = 1; n <= total; ++n)
        if (!it->etags().contains(n))
            run->missing.push_back(n);
    it->setLoaded(it->storedBytes());

    // The workers, and the URL batches they ask for, stop together when one part fails.
    TaskGroup<void> workers(stop);
    run->urls = std::make_shared<URLCache>(
        total, [&api = ctx.api, key, uploadId, accelerated = ctx.accelerate, token = workers.token()](int64_t first, int64_t last) {
            return api.partURLs(key, uploadId, first, last, accelerated, token);
        });
    auto openReader = [path = it->path, partSize, size = it->size] {
        return std::make_shared<PartReader>(path, partSize, size);
    };
    run->reader = co_await runInPool(std::move(openReader));
    run->digest = std::make_shared<OrderedFileDigest>(run->reader, run->missing, it->digestFormat());

    // Enough workers to keep every permit this upload may take busy; more would only wait.
    const size_t workerCount = std::min(run->missing.size(), size_t(std::max(1, sem.capacity() / run->permits)));
    for (size_t i = 0; i < workerCount; ++i)
        workers.add(partWorker(run, workers.token()));

    std::exception_ptr failure;
    for (;;) {
        // Not `while (auto o = co_await ...)`: g++ 12 miscompiles a co_await inside a condition.
        std::optional<TaskGroup<void>::Outcome> outcome = co_await workers.next();
        if (!outcome)
            break;
        if (outcome->error) {
            failure = outcome->error;
            break;
        }
    }
    if (failure) {
        // The parts stored so far stay on the item and on disk for a later continuation.
        co_await workers.cancelAndDrain();
        std::rethrow_exception(failure);
    }

    if (it->status() == Status::Cancelled)
        throw UploadError::cancelled();
    // A file that no longer holds what the offload recorded must not become an object, however
    // well its parts arrived: the upload is left uncompleted (and aborted by the transfer).
    OrderedFileDigest::Result digests = co_await run->digest->finish();
    takeReadDigests(*it, std::move(digests.md5), std::move(digests.record));
    // Parts read at different times only make one object if the file stayed as it was planned.
    auto check = [path = it->path, size = it->size, mtime = it->mtime] { ensureFileUnchanged(path, size, mtime); };
    co_await runInPool(std::move(check));

    // Only an upload with a verified ETag for every part 1..total may be completed, or the object
    // would lack what is missing.
    if (qint64(it->etags().size()) != total)
        throw APIError::decode();
    std::vector<Part> list;
    list.reserve(it->etags().size());
    for (const auto& [n, etag] : it->etags())   // a std::map: ascending part numbers
        list.push_back(Part{n, etag.toStdString()});
    std::exception_ptr refused;
    try {
        co_await ctx.api.complete(key, uploadId, std::move(list), stop);
    } catch (const APIError& e) {
        if (isRefusal(e))
            throw CompletionRefused{std::current_exception()};
        if (!e.retried() || e.kind() != APIError::Kind::Http)
            throw;
        refused = std::current_exception();
    }
    if (refused) {
        const bool completed = co_await completedEarlier(ctx, it, stop);
        if (!completed)
            std::rethrow_exception(refused);
    }
}

// The upload is no longer known: it expired or was aborted at the service (which answers 404), or
// the store ended it (a lifecycle rule, an administrator) while the service, which only signs the
// part URLs, cannot tell.
bool uploadUnknown(const std::exception_ptr& failure)
{
    return holds<APIError>(failure, [](const APIError& e) { return e.kind() == APIError::Kind::Http && e.code() == 404; })
           || holds<UploadError>(failure, [](const UploadError& e) { return e.uploadGone(); });
}

}  // namespace

QCoro::Task<void> sendInParts(TransferContext& ctx, ItemPtr it, AsyncSemaphore& sem, std::stop_token stop)
{
    // A file that changed since it was queued is refused before anything is sent, not after.
    auto check = [path = it->path, size = it->size, mtime = it->mtime] { ensureFileUnchanged(path, size, mtime); };
    co_await runInPool(std::move(check));

    // An upload that cannot go on is given up and the file sent anew, once per transfer: a second
    // failure of the same kind is the item's error.
    for (bool startedAnew = false;; startedAnew = true) {
        // A continued upload (paused, failed, restored) is one the service may have let go of.
        const bool continued = it->uploadId().has_value();
        if (!continued)
            co_await startUpload(ctx, it, stop);

        std::exception_ptr failure;
        std::exception_ptr refusal;
        try {
            co_await sendMissingPartsAndComplete(ctx, it, sem, stop);
        } catch (const CompletionRefused& refused) {
            refusal = refused.refusal;
        } catch (...) {
            failure = std::current_exception();
        }
        if (!failure && !refusal)
            break;
        if (startedAnew || (failure && (!continued || !uploadUnknown(failure))))
            std::rethrow_exception(refusal ? refusal : failure);
        // Its parts are gone with it, or will never make the object: the file is sent anew in a
        // new upload. The old one is still aborted at the service, which may hold it open
        // (harmless when it is already gone).
        co_await discardUpload(ctx.api, it);
        it->setLoaded(0);
    }
    // The completed upload is the store's object now: nothing is left to abort, whatever follows.
    it->forgetUpload();
    co_await ensureStillAsSent(ctx, it);
    it->setVerified(true);
}

}  // namespace zafrel
