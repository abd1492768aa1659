// Files above the single-request limit: an S3 multipart upload whose parts go several at a time,
// each verified by its MD5, their ETags kept on the item so that an interrupted upload continues
// with the missing parts only.
#include "client/api_error.h"
#include "client/records.h"
#include "client/zafrel_api.h"
#include "engine/async_semaphore.h"
#include "engine/file_state.h"
#include "engine/part_buffer_pool.h"
#include "engine/part_reader.h"
#include "engine/upload_error.h"
#include "engine/upload_manager.h"
#include "engine/url_cache.h"
#include "platform/async.h"
#include "platform/errors.h"
#include "platform/md5.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace zafrel {

namespace {

using PartResult = std::pair<int64_t, std::string>;   // part number, ETag as received

// Gives the permit back from a task of its own, whichever way the part task ends, so that the
// part never waits for the hand-over to the next waiter. The semaphore belongs to the run, which
// outlives the posted task: the part's end reaches the run only through later posted wake-ups.
class PermitRelease {
public:
    explicit PermitRelease(AsyncSemaphore& sem) : sem_(&sem) {}
    PermitRelease(const PermitRelease&) = delete;
    PermitRelease& operator=(const PermitRelease&) = delete;
    ~PermitRelease()
    {
        spawn([sem = sem_]() -> QCoro::Task<void> {
            sem->signal();
            co_return;
        });
    }

private:
    AsyncSemaphore* sem_;
};

QCoro::Task<PartResult> sendPart(UploadManager& manager, ItemPtr it, int64_t n, AsyncSemaphore& sem,
                                 std::shared_ptr<PartReader> reader, std::shared_ptr<URLCache> urls,
                                 std::stop_token stop)
{
    // Checked once, before the wait: a part that got past here is sent even when the item is
    // cancelled while it waits (the upload is then aborted once every part has ended).
    if (stop.stop_requested())
        throw Cancelled();
    if (it->status() == Status::Cancelled)
        throw UploadError::cancelled();

    co_await sem.wait();
    PermitRelease release(sem);
    // A part that waited while its siblings failed or the run stopped has nothing left to do; the
    // item's own cancel, in contrast, lets it go on (see above).
    if (stop.stop_requested())
        throw Cancelled();

    // Only the parts holding a permit are in memory, each in a buffer of the run's pool, which
    // goes back before the permit (the lease ends first). Reading and hashing happen on the pool;
    // the job writes into the lent buffer, which nothing else touches until the job is done.
    // (Jobs are named locals: g++ 12 destroys a capturing lambda written inside a co_await
    // expression twice.)
    PartBufferPool::Lease body = manager.partBuffers.take(qsizetype(reader->expectedLength(n)));
    auto readPart = [reader, n, &body] {
        reader->read(n, body.bytes);
        return md5Hex(body.bytes);
    };
    const std::string md5 = co_await runInPool(std::move(readPart));
    const std::string url = co_await urls->url(n);
    // The transfer gets a shared copy: the lease keeps its own reference to give the buffer back.
    std::string etag = co_await manager.putWithRetries(url, body.bytes, std::string(), it, std::nullopt, stop);

    std::string bare = etag;
    std::erase(bare, '"');
    if (bare != md5)
        throw UploadError::checksum();
    co_return PartResult{n, std::move(etag)};
}

}  // namespace

QCoro::Task<void> UploadManager::uploadMultipart(ItemPtr it, AsyncSemaphore& sem, std::stop_token stop)
{
    const bool accelerated = accelerate.value_or(false);

    // An upload id without its key or part size can only come from an edited queue file: such an
    // upload cannot be continued, so it is started anew.
    if (it->uploadId && (!it->key || it->partSize <= 0)) {
        it->uploadId.reset();
        it->etags.clear();
    }

    if (!it->uploadId) {
        InitBody body;
        body.path = it->destDir.toStdString();
        body.name = it->name.toStdString();
        body.size = it->size;
        body.type = it->contentType.toStdString();
        body.accelerate = accelerated;
        const UploadInit init = co_await api.initUpload(std::move(body), stop);
        if (init.mode != "multipart" || !init.uploadId)
            throw APIError::decode();
        it->key = QString::fromStdString(init.key);
        it->uploadId = QString::fromStdString(*init.uploadId);
        it->partSize = std::max<qint64>(init.partSize.value_or(minPart), minPart);
        it->etags.clear();
        persist();
    }

    const std::string key = it->key->toStdString();
    const std::string uploadId = it->uploadId->toStdString();
    const int64_t partSize = it->partSize;
    const int64_t total = (it->size + partSize - 1) / partSize;

    // ETags for part numbers this file does not have (an edited queue file) would spoil completion.
    std::erase_if(it->etags, [total](const auto& entry) { return entry.first < 1 || entry.first > total; });

    std::vector<int64_t> missing;
    for (int64_t n = 1; n <= total; ++n)
        if (!it->etags.contains(n))
            missing.push_back(n);
    it->setLoaded(std::min<qint64>(qint64(it->etags.size()) * partSize, it->size));

    // The part tasks, and the URL batches they ask for, stop together when one part fails.
    TaskGroup<PartResult> parts(stop);
    auto urls = std::make_shared<URLCache>(
        total, [this, key, uploadId, accelerated, token = parts.token()](int64_t first, int64_t last) {
            return api.partURLs(key, uploadId, first, last, accelerated, token);
        });
    auto openReader = [path = it->path, partSize, size = it->size] { return std::make_shared<PartReader>(path, partSize, size); };
    std::shared_ptr<PartReader> reader = co_await runInPool(std::move(openReader));

    for (int64_t n : missing)
        parts.add(sendPart(*this, it, n, sem, reader, urls, parts.token()));

    std::exception_ptr failure;
    while (auto outcome = co_await parts.next()) {
        if (outcome->error) {
            failure = outcome->error;
            break;
        }
        const auto& [n, etag] = *outcome->value;
        it->etags.insert_or_assign(n, QString::fromStdString(etag));
        it->setLoaded(std::min<qint64>(qint64(it->etags.size()) * partSize, it->size));
        persist();
    }
    if (failure) {
        // The parts stored so far stay on the item and on disk for a later continuation.
        co_await parts.cancelAndDrain();
        std::rethrow_exception(failure);
    }

    if (it->status() == Status::Cancelled)
        throw UploadError::cancelled();
    // Parts read at different times only make one object if the file stayed as it was queued.
    auto check = [path = it->path, size = it->size, mtime = it->mtime] { ensureFileUnchanged(path, size, mtime); };
    co_await runInPool(std::move(check));

    std::vector<Part> list;
    list.reserve(it->etags.size());
    for (const auto& [n, etag] : it->etags)   // a std::map: ascending part numbers
        list.push_back(Part{n, etag.toStdString()});
    co_await api.complete(key, uploadId, std::move(list), stop);
    it->setVerified(true);
}

}  // namespace zafrel
