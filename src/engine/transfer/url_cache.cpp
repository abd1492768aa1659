#include "engine/transfer/url_cache.h"

#include "client/api_error.h"

#include <qcoro/qcorofuture.h>

#include <QPromise>

#include <algorithm>
#include <utility>

namespace zafrel {

URLCache::URLCache(int64_t total, Fetch fetch) : total_(total), fetch_(std::move(fetch)) {}

std::shared_ptr<URLCache::Pending> URLCache::pendingFor(int64_t n) const
{
    for (const auto& pending : pending_)
        if (pending->first <= n && n <= pending->last)
            return pending;
    return nullptr;
}

QCoro::Task<std::string> URLCache::url(int64_t n)
{
    if (auto hit = cache_.find(n); hit != cache_.end())
        co_return std::string(hit->second);   // a copy: the cache keeps its URL
    if (n < 1 || n > total_)
        throw APIError::decode();

    // At the start of an upload every part task holding a permit misses at once; one request for
    // the batch serves them all.
    if (auto pending = pendingFor(n)) {
        co_await pending->done;
        if (pending->error)
            std::rethrow_exception(pending->error);
        if (auto hit = cache_.find(n); hit != cache_.end())
            co_return std::string(hit->second);   // a copy: the cache keeps its URL
        throw APIError::decode();
    }

    auto pending = std::make_shared<Pending>();
    pending->first = n;
    pending->last = std::min(n + (batchSize - 1), total_);
    QPromise<void> promise;
    pending->done = promise.future();
    promise.start();
    pending_.push_back(pending);

    std::exception_ptr error;
    try {
        URLMap fetched = co_await fetch_(pending->first, pending->last);
        // A part fetched twice keeps the URL fetched last.
        for (auto& [part, url] : fetched)
            cache_.insert_or_assign(part, std::move(url));
    } catch (...) {
        error = std::current_exception();
    }
    pending->error = error;
    std::erase(pending_, pending);
    promise.finish();

    if (error)
        std::rethrow_exception(error);
    if (auto hit = cache_.find(n); hit != cache_.end())
        co_return std::string(hit->second);   // a copy: the cache keeps its URL
    throw APIError::decode();
}

QCoro::Task<std::string> URLCache::renewed(int64_t n)
{
    cache_.erase(n);
    return url(n);
}

}  // namespace zafrel
