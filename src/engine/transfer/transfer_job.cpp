// The per-file worker: skip what is already at the destination, send the rest in one request or
// in parts, and turn every outcome into the item's final state.
#include "client/api_error.h"
#include "client/records.h"
#include "client/zafrel_api.h"
#include "engine/destination/destination_records.h"
#include "engine/destination/destination_verdict.h"
#include "engine/transfer/file_state.h"
#include "engine/transfer/part_plan.h"
#include "engine/run/listing_cache.h"
#include "engine/run/run_pause.h"
#include "engine/queue/queue_store.h"
#include "engine/queue/suspect_destinations.h"
#include "engine/transfer/multipart.h"
#include "engine/transfer/open_uploads.h"
#include "engine/transfer/put_request.h"
#include "engine/transfer/transfer_job.h"
#include "engine/transfer/upload_error.h"
#include "platform/async.h"
#include "platform/content_hash.h"
#include "platform/errors.h"
#include "platform/md5.h"

#include <QDateTime>

#include <algorithm>
#include <utility>

namespace zafrel {

namespace {

// Another file holds the name at the destination: the item fails with it, its open upload kept
// for a replacement the user may allow.
class OtherFileThere : public std::runtime_error {
public:
    OtherFileThere() : std::runtime_error(kOtherFileThere) {}
};

struct FileContent {
    QByteArray data;
    std::string md5;
    std::string record;   // in the offload record's format, when one was asked for
    std::optional<HashFormat> recordFormat;
    double mtime = 0;     // of the file whose bytes these are
};

// A file at most this big is read in the same trip to the pool that looks at it: a small file's
// cost is mostly its trips between threads, and reading it before its destination is judged or
// its permit taken holds at most this much per file in flight a little earlier.
constexpr qint64 kReadWithLookMax = 1024 * 1024;

// Reads and digests a whole (small) file; runs on the thread pool.
FileContent readWhole(const QString& path, qint64 size, double mtime, std::optional<HashFormat> recordFormat)
{
    ReadableFile file(path);
    FileContent content;
    // One byte of room beyond the size queued: a file that grew shows it in the last read.
    content.data.resize(size + 1);
    qint64 got = 0;
    for (;;) {
        const size_t n = file.readSome(content.data.data() + got, size_t(content.data.size() - got));
        got += qint64(n);
        if (n == 0 || got == content.data.size())
            break;
    }
    // What was read must be the file that was queued, or the upload would be verified against
    // bytes that nobody chose to send.
    if (got != size)
        throw FileChangedError();
    content.data.resize(size);
    ensureFileUnchanged(path, size, mtime);
    content.md5 = md5Hex(content.data);
    content.recordFormat = recordFormat;
    content.mtime = mtime;
    if (recordFormat) {
        ContentHasher hasher(*recordFormat);
        hasher.add(content.data);
        content.record = hasher.finish();
    }
    return content;
}

struct LookAndContent {
    FileLook look;
    std::optional<FileContent> content;   // the file as looked at, when small and read without fault
};

// Looks at the file and, when it is small, reads and digests it as it is now; runs on the pool.
// A read that fails is not this file's outcome yet: it is read again at its turn, where a failure
// counts (and where a file already at its destination is never read).
LookAndContent lookAndReadSmall(const QString& path, std::optional<HashFormat> recordFormat)
{
    LookAndContent result{lookAtFile(path), std::nullopt};
    const FileState& state = result.look.state;
    if (result.look.presence == FilePresence::Present && state.size <= kReadWithLookMax) {
        try {
            result.content = readWhole(path, state.size, state.mtime, recordFormat);
        } catch (const std::exception&) {
        }
    }
    return result;
}

// A failed check of the bytes, against the store's digest or the offload's record.
bool isChecksumFailure(const std::exception_ptr& failure)
{
    return holds<UploadError>(failure, [](const UploadError& e) {
        return e.kind() == UploadError::Kind::Checksum || e.kind() == UploadError::Kind::OffloadRecord;
    });
}

bool isOffloadMismatch(const std::exception_ptr& failure)
{
    return holds<UploadError>(failure, [](const UploadError& e) { return e.kind() == UploadError::Kind::OffloadRecord; });
}

// Where the service's answer to an upload start says the whole file goes. Its URL, when there is
// one, was refused in decoding unless it is an absolute http(s) URL with a host.
PutTarget targetOf(const UploadInit& init, const UploadItem& it)
{
    if (!init.url)
        throw APIError::decode();
    return PutTarget{*init.url, init.contentType.value_or(it.contentType.toStdString())};
}

// What to do with the file given what stands at its destination. The file is read only when the
// record of what is there came from another local file (a copy of the card, another camera's clip
// of the same name and size); a file already up from this same path is not read again.
QCoro::Task<DestinationVerdict> judgeItsDestination(TransferContext& ctx, ItemPtr it, std::stop_token stop)
{
    co_await ctx.listings.fetch(it->destDir, stop);
    const QString destination = it->destDir + it->name;
    AtDestination there;
    there.listedSize = ctx.listings.listedSize(it->destDir, it->name);
    if (there.listedSize) {
        there.suspect = ctx.suspects.contains(ctx.origin, destination);
        there.record = ctx.records.find(recordAccount(*it, ctx.origin), destination);
    }
    const LocalFile file{it->path, it->size, it->mtime};
    const bool replace = it->replaceAllowed || ctx.replaceOtherFiles;
    DestinationVerdict verdict = judgeDestination(there, file, std::nullopt, replace);
    if (verdict != DestinationVerdict::NeedsDigest)
        co_return verdict;
    auto digest = [file, stop] { return md5OfFile(file.path, file.size, file.mtime, stop); };
    const std::string md5 = co_await runInPool(std::move(digest));
    verdict = judgeDestination(there, file, md5, replace);
    if (verdict == DestinationVerdict::Skip) {
        // A copy of what is there: the next run from this path need not read it again.
        it->md5 = md5;
        ctx.records.addSource(recordAccount(*it, ctx.origin), destination, RecordSource{file.path, file.mtime});
    }
    co_return verdict;
}

// Asks the service where to send the whole file. Asked again for a fresh URL when the store
// refused the first one (it expired before the body got through).
QCoro::Task<PutTarget> startSingle(TransferContext& ctx, ItemPtr it, std::stop_token stop)
{
    const UploadInit init = co_await askUploadStart(ctx, it, stop);
    it->setKey(QString::fromStdString(init.key));
    co_return targetOf(init, *it);
}

// The target of the start made ahead for the item, setting its key, waiting for the start when it
// is still under way; nothing when none was made or it was made for another size. Fails with the
// start's error.
QCoro::Task<std::optional<PutTarget>> takeStartAhead(TransferContext& ctx, ItemPtr it)
{
    const auto found = ctx.startsAhead.find(it->id);
    if (found == ctx.startsAhead.end())
        co_return std::nullopt;
    const std::shared_ptr<StartAhead> start = found->second;
    ctx.startsAhead.erase(found);
    if (start->size != it->size)
        co_return std::nullopt;   // queued again meanwhile with the file as it is now
    co_await start->done.wait();
    it->setKey(QString::fromStdString(start->init.key));
    co_return targetOf(start->init, *it);
}

// `early` is the file as read when it was looked at, if it was: taken when it is of the item's
// file as it stands now and digested for the record asked for now.
QCoro::Task<void> sendWhole(TransferContext& ctx, ItemPtr it, AsyncSemaphore& sem, std::stop_token stop,
                            std::optional<FileContent>& early)
{
    // The body stays in memory from the read to the answer: it takes its share of the run's part
    // memory like a part does.
    const int permits = permitsPerPart(std::max<qint64>(it->size, 1), ctx.limits.minPart, sem.capacity());
    co_await sem.wait(permits);
    PermitRelease release(sem, permits);

    // Reading and hashing up to 32 MiB would make the window stutter: both happen on the pool.
    // (The job is a named local: g++ 12 destroys a capturing lambda written inside a co_await
    // expression twice.)
    const std::optional<HashFormat> recordFormat = it->digestFormat();
    FileContent content;
    if (early && early->data.size() == it->size && early->mtime == it->mtime && early->recordFormat == recordFormat) {
        content = std::move(*early);
        early.reset();
    } else {
        auto read = [path = it->path, size = it->size, mtime = it->mtime, recordFormat] {
            return readWhole(path, size, mtime, recordFormat);
        };
        content = co_await runInPool(std::move(read));
    }
    // Bytes that are not what the offload recorded are not sent at all.
    takeReadDigests(*it, content.md5, content.record);

    std::optional<PutTarget> target = co_await takeStartAhead(ctx, it);
    if (!target)
        target = co_await startSingle(ctx, it, stop);
    RenewTarget renew = [&ctx, it, stop] { return startSingle(ctx, it, stop); };
    const std::string etag =
        co_await putWithRetries(ctx, std::move(*target), content.data, it, 0, stop, std::move(renew));
    if (!etagMatches(etag, content.md5))
        throw UploadError::checksum();
    co_await ensureStillAsSent(ctx, it);
    it->setVerified(true);
}

}  // namespace

QCoro::Task<void> ensureStillAsSent(TransferContext& ctx, ItemPtr it)
{
    auto check = [path = it->path, size = it->size, mtime = it->mtime] { ensureFileUnchanged(path, size, mtime); };
    std::exception_ptr changed;
    try {
        // A small file was read moments ago: its entry is in the kernel's cache, and one look at
        // it here costs less than the trip to the pool and back (the intake looks at every file
        // on this thread too). A big file's parts may have taken hours; it is looked at on the pool.
        if (it->size <= kReadWithLookMax)
            check();
        else
            co_await runInPool(std::move(check));
    } catch (const FileChangedError&) {
        changed = std::current_exception();
    }
    if (changed) {
        // The store holds an earlier state of the file under its name, perhaps of the same size:
        // it must not count as already there until a verified upload replaces it.
        ctx.suspects.mark(ctx.origin, it->destDir + it->name);
        std::rethrow_exception(changed);
    }
}

void takeReadDigests(UploadItem& it, std::string md5, std::string record)
{
    it.md5 = std::move(md5);
    it.recordDigest = std::move(record);
    if (!it.offloadRecord)
        return;
    if (!sameDigest(it.offloadRecord->format, it.recordDigest, it.offloadRecord->digest))
        throw UploadError::offloadMismatch(hashFormatName(it.offloadRecord->format));
    it.offloadChecked = true;
}

bool etagMatches(std::string etag, const std::string& md5Hex)
{
    std::erase(etag, '"');
    return etag == md5Hex;
}

QCoro::Task<UploadInit> askUploadStart(TransferContext& ctx, ItemPtr it, std::stop_token stop)
{
    InitBody body;
    body.path = it->destDir.toStdString();
    body.name = it->name.toStdString();
    body.size = it->size;
    body.type = it->contentType.toStdString();
    body.accelerate = ctx.accelerate;
    co_return co_await ctx.api.initUpload(std::move(body), stop);
}

QCoro::Task<void> transferFile(TransferContext& ctx, ItemPtr it, AsyncSemaphore& sem, std::stop_token stop)
{
    it->offloadChecked = false;
    it->md5.clear();
    it->recordDigest.clear();
    it->historyNoted = false;
    std::exception_ptr failure;
    try {
        // A fresh small file is looked at and read in one trip; anything else is only looked at,
        // and so is a file its folder's listing already names (likely there already: not read).
        const bool readEarly = !it->uploadId() && it->size <= kReadWithLookMax
                               && !ctx.listings.listedSize(it->destDir, it->name);
        auto look = [path = it->path, readEarly, recordFormat = it->digestFormat()] {
            return readEarly ? lookAndReadSmall(path, recordFormat) : LookAndContent{lookAtFile(path), std::nullopt};
        };
        LookAndContent looked = co_await runInPool(std::move(look));
        const FileLook& file = looked.look;
        if (file.presence == FilePresence::Unavailable) {
            // Not there for now (a card not mounted, a folder moved away): the item waits with its
            // upload and parts, and goes on once the path is back.
            it->setStatus(Status::Paused);
            it->setError(QString::fromUtf8(kFileUnavailable));
            ctx.store.persist(*it);
            co_return;
        }
        if (it->uploadId()) {
            co_await reviewOpenUpload(ctx, it);
        } else if (file.presence == FilePresence::Present) {
            // Nothing of it is stored yet: it goes as it is now that its turn has come (a copy to
            // the card may have ended since the intake); only a change during its own upload
            // fails it.
            if (file.state.size != it->size || file.state.mtime != it->mtime)
                it->startAnew(file.state.size, file.state.mtime);
        }
        // Not `if (co_await ...)`: g++ 12 miscompiles a co_await inside a condition.
        const DestinationVerdict verdict = co_await judgeItsDestination(ctx, it, stop);
        if (verdict == DestinationVerdict::Skip) {
            co_await discardUpload(ctx.api, it);   // a continued upload nothing will complete now
            it->finish(Status::Skipped);
            ctx.store.persist(*it);
            co_return;
        }
        if (verdict == DestinationVerdict::OtherFile)
            throw OtherFileThere();
        if (it->size > ctx.limits.singlePutMax)
            co_await sendInParts(ctx, it, sem, stop);
        else
            co_await sendWhole(ctx, it, sem, stop, looked.content);
        // What stands at the destination now is what was verified.
        ctx.suspects.clear(ctx.origin, it->destDir + it->name);
        if (!it->md5.empty())
            ctx.records.remember(recordAccount(*it, ctx.origin), it->destDir + it->name, it->size, it->md5,
                                 RecordSource{it->path, it->mtime});
        it->finish(Status::Done);
        ctx.store.persist(*it);
        co_return;
    } catch (...) {
        failure = std::current_exception();
    }

    // Whatever the store keeps under that name after a failed verification may be anything, even
    // with the right size: until a verified upload replaces it, it does not count as already there.
    if (isChecksumFailure(failure))
        ctx.suspects.mark(ctx.origin, it->destDir + it->name);

    if (it->status() == Status::Cancelled) {
        // The user stopped it: whatever ended the transfer, the stored parts are of no use.
        co_await discardUpload(ctx.api, it);
    } else if (holds<Cancelled>(failure)) {
        it->setStatus(Status::Paused);
    } else if (const std::optional<PauseCause> cause = pauseCauseOf(failure)) {
        // Not this file's fault: it waits, with whatever it has sent, and so does the rest.
        it->setStatus(Status::Paused);
        ctx.pauseRun(*cause);
    } else {
        if (holds<FileChangedError>(failure) || isOffloadMismatch(failure)) {
            // The parts stored so far belong to another version of the file, or to bytes that
            // are not the offload's: drop the upload at the service so that nothing continues or
            // completes it, and start anew next time.
            co_await discardUpload(ctx.api, it);
        }
        it->fail(QString::fromStdString(messageOf(failure, "Error desconocido")),
                 QString::fromStdString(failureDetail(failure)));
    }
    ctx.store.persist(*it);
}

}  // namespace zafrel
