#include "engine/transfer/ordered_file_digest.h"

#include "platform/async.h"
#include "platform/errors.h"

#include <utility>

namespace zafrel {

namespace {

// Parts sent earlier are read through a buffer of this size, not whole.
constexpr qsizetype kStoredPiece = 1 << 20;

}  // namespace

OrderedFileDigest::OrderedFileDigest(std::shared_ptr<PartReader> reader, std::vector<int64_t> sent,
                                     std::optional<HashFormat> recordFormat)
    : hashers_(std::make_shared<Hashers>()), reader_(std::move(reader)), sent_(std::move(sent))
{
    // An MD5 record is checked against the whole file's MD5, not taken a second time.
    if (recordFormat == HashFormat::Md5)
        hashers_->recordIsMd5 = true;
    else if (recordFormat)
        hashers_->record.emplace(*recordFormat);
    turns_.reserve(sent_.size() + 1);
    for (size_t i = 0; i <= sent_.size(); ++i)
        turns_.push_back(std::make_shared<AsyncLatch>());
    turns_.front()->finish();
}

void OrderedFileDigest::digestStored(Hashers& hashers, const PartReader& reader, int64_t from, int64_t until)
{
    for (int64_t part = from; part < until; ++part)
        reader.readPieces(part, kStoredPiece, [&hashers](QByteArrayView piece) { hashers.add(piece); });
}

QCoro::Task<std::string> OrderedFileDigest::feed(size_t index, QByteArray bytes)
{
    const std::shared_ptr<AsyncLatch> turn = turns_[index];
    co_await turn->wait();
    const int64_t part = sent_[index];
    auto digest = [hashers = hashers_, reader = reader_, from = next_, part, &bytes] {
        digestStored(*hashers, *reader, from, part);
        Md5Hasher own;
        addToBoth(own, hashers->md5, bytes.constData(), size_t(bytes.size()));
        if (hashers->record)
            hashers->record->add(bytes);
        return own.finishHex();
    };
    std::string md5;
    std::exception_ptr failure;
    try {
        md5 = co_await runInPool(std::move(digest));
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        abandon(failure);
        std::rethrow_exception(failure);
    }
    next_ = part + 1;
    turns_[index + 1]->finish();
    co_return md5;
}

void OrderedFileDigest::abandon(std::exception_ptr error)
{
    if (!error)
        error = std::make_exception_ptr(Cancelled());
    for (const std::shared_ptr<AsyncLatch>& turn : turns_)
        if (!turn->finished())
            turn->finish(error);
}

QCoro::Task<OrderedFileDigest::Result> OrderedFileDigest::finish()
{
    const std::shared_ptr<AsyncLatch> allSent = turns_.back();
    co_await allSent->wait();
    auto digest = [hashers = hashers_, reader = reader_, from = next_] {
        digestStored(*hashers, *reader, from, reader->partCount() + 1);
        Result result;
        result.md5 = hashers->md5.finishHex();
        if (hashers->record)
            result.record = hashers->record->finish();
        else if (hashers->recordIsMd5)
            result.record = result.md5;
        return result;
    };
    co_return co_await runInPool(std::move(digest));
}

}  // namespace zafrel
