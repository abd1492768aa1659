#include "engine/listing_cache.h"

#include "client/zafrel_api.h"
#include "platform/async_latch.h"

#include <exception>
#include <optional>

namespace zafrel {

bool ListingCache::lists(const QString& destDir, const QString& name, qint64 size) const
{
    const auto folder = folders_.find(destDir);
    if (folder == folders_.end())
        return false;
    const auto entry = folder->second.find(name);
    return entry != folder->second.end() && entry->second == size;
}

QCoro::Task<void> ListingCache::fetch(QString destDir, std::stop_token stop)
{
    if (has(destDir))
        co_return;
    if (const auto pending = inFlight_.find(destDir); pending != inFlight_.end()) {
        const std::shared_ptr<AsyncLatch> latch = pending->second;
        co_await latch->wait();
        co_return;
    }
    const auto latch = std::make_shared<AsyncLatch>();
    inFlight_.emplace(destDir, latch);
    std::exception_ptr failure;
    try {
        std::optional<Listing> listing;
        try {
            listing = co_await api_.ls(destDir.toStdString(), stop, ZafrelAPI::Retries::Transient);
        } catch (const APIError& e) {
            // The service answers 404 for a folder that holds nothing yet (a day's folder before
            // its first file): nothing can be there, so the file is to be sent, not failed.
            if (e.kind() != APIError::Kind::Http || e.code() != 404)
                throw;
        }
        std::map<QString, qint64> sizes;
        if (listing)
            for (const FileEntry& file : listing->files)
                sizes.insert_or_assign(QString::fromStdString(file.name), qint64(file.size));
        folders_.insert_or_assign(destDir, std::move(sizes));
    } catch (...) {
        failure = std::current_exception();
    }
    inFlight_.erase(destDir);
    latch->finish(failure);
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace zafrel
