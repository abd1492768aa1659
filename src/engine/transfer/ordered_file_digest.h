#pragma once
#include "engine/transfer/part_reader.h"
#include "platform/async_latch.h"
#include "platform/content_hash.h"
#include "platform/dual_md5.h"

#include <QByteArray>

#include <QCoro/QCoroTask>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zafrel {

// The digests of a whole file sent in parts, taken in the same pass as the upload: parts are read
// in parallel and may be read out of order, and each is fed here with the bytes its worker already
// holds, digested in file order (a part waits for the ones before it, holding its buffer and so
// staying within the run's part memory). A fed part's own MD5 comes out of the same pass over its
// bytes as the whole file's. Parts this transfer does not send (stored in an earlier run) are read
// again here, in their turn, in small pieces. Main thread; the digesting runs on the thread pool,
// one part at a time.
class OrderedFileDigest {
public:
    struct Result {
        std::string md5;      // of the whole file, hex
        std::string record;   // in the format asked for, as hash lists write it; empty when none
    };

    // `sent`: the parts this transfer reads and feeds, ascending.
    OrderedFileDigest(std::shared_ptr<PartReader> reader, std::vector<int64_t> sent,
                      std::optional<HashFormat> recordFormat);

    // The bytes of part sent[index], once every earlier part is digested; answers the part's own
    // MD5 (hex). Throws the error that abandoned the digest, when it was.
    QCoro::Task<std::string> feed(size_t index, QByteArray bytes);
    // Once a part will never be fed: every wait ends with Cancelled, or with `error`.
    void abandon(std::exception_ptr error = {});
    // The digests, once every part is in.
    QCoro::Task<Result> finish();

private:
    struct Hashers {
        Md5Hasher md5;
        std::optional<ContentHasher> record;   // none when no record, or when it is the MD5 itself
        bool recordIsMd5 = false;
        void add(QByteArrayView bytes)
        {
            md5.add(bytes.data(), size_t(bytes.size()));
            if (record)
                record->add(bytes);
        }
    };
    // Digests the parts from `from` up to, not including, `until` from the file (pool).
    static void digestStored(Hashers& hashers, const PartReader& reader, int64_t from, int64_t until);

    std::shared_ptr<Hashers> hashers_;
    std::shared_ptr<PartReader> reader_;
    std::vector<int64_t> sent_;
    // turns_[i] ends when sent_[i] may be digested, turns_.back() when every sent part has been.
    std::vector<std::shared_ptr<AsyncLatch>> turns_;
    int64_t next_ = 1;   // the first part not yet digested
};

}  // namespace zafrel
