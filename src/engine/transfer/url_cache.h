#pragma once
#include <qcoro/qcorotask.h>

#include <QFuture>

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zafrel {

// The pre-signed part URLs of one multipart upload, fetched from the service in batches of up to
// 100 and kept for the whole upload. Used only on the main thread.
class URLCache {
public:
    using URLMap = std::map<int64_t, std::string>;
    // Answers the URLs of parts first..last (both included); may answer fewer, may fail.
    using Fetch = std::function<QCoro::Task<URLMap>(int64_t first, int64_t last)>;

    static constexpr int64_t batchSize = 100;

    URLCache(int64_t total, Fetch fetch);

    // The URL of part n: from the cache, or from a batch n..min(n + 99, total) fetched now. A caller
    // that misses while a batch covering its part is already on its way waits for that batch
    // instead of asking for another one. Fails with the batch's error, or with APIError::decode
    // when the batch does not hold part n.
    QCoro::Task<std::string> url(int64_t n);
    // A URL of part n fetched anew (the one kept was refused by the store: it expired). The batch
    // it comes with replaces the kept URLs of the parts that follow, which were signed as long ago.
    QCoro::Task<std::string> renewed(int64_t n);

    int64_t total() const { return total_; }

private:
    struct Pending {
        int64_t first = 0, last = 0;
        QFuture<void> done;          // finishes when the batch has answered or failed
        std::exception_ptr error;    // the batch's failure, seen by every caller that waited for it
    };

    std::shared_ptr<Pending> pendingFor(int64_t n) const;

    int64_t total_;
    Fetch fetch_;
    URLMap cache_;
    std::vector<std::shared_ptr<Pending>> pending_;
};

}  // namespace zafrel
