#include "engine/run/listing_cache.h"

#include "client/zafrel_api.h"
#include "platform/async_latch.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

namespace zafrel {

std::optional<int64_t> ListingCache::listedSize(const QString& destDir, const QString& name) const
{
    const auto folder = folders_.find(destDir);
    if (folder == folders_.end())
        return std::nullopt;
    const Folder& f = folder->second;
    const std::string wanted = name.toStdString();
    const auto nameAt = [&f](size_t i) {
        const uint32_t begin = i == 0 ? 0 : f.ends[i - 1];
        return std::string_view(f.names).substr(begin, f.ends[i] - begin);
    };
    size_t low = 0, high = f.ends.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (nameAt(middle) < wanted)
            low = middle + 1;
        else
            high = middle;
    }
    if (low < f.ends.size() && nameAt(low) == wanted)
        return f.sizes[low];
    return std::nullopt;
}

ListingCache::Folder ListingCache::compact(std::vector<std::pair<std::string, int64_t>> files)
{
    // Stable: of a name listed twice the last one counts, as it would in a map.
    std::stable_sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    Folder folder;
    size_t bytes = 0;
    for (const auto& file : files)
        bytes += file.first.size();
    folder.names.reserve(bytes);
    folder.ends.reserve(files.size());
    folder.sizes.reserve(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        if (i + 1 < files.size() && files[i + 1].first == files[i].first)
            continue;
        folder.names += files[i].first;
        // A listing comes in an answer of at most 64 MiB: its names' bytes fit in 32 bits.
        folder.ends.push_back(uint32_t(folder.names.size()));
        folder.sizes.push_back(files[i].second);
    }
    folder.names.shrink_to_fit();
    folder.ends.shrink_to_fit();
    folder.sizes.shrink_to_fit();
    return folder;
}

ListingCache::Hold::Hold(ListingCache& cache, QString destDir) : cache_(cache), destDir_(std::move(destDir))
{
    ++cache_.holds_[destDir_];
}

ListingCache::Hold::~Hold()
{
    const auto hold = cache_.holds_.find(destDir_);
    if (hold != cache_.holds_.end() && --hold->second <= 0)
        cache_.holds_.erase(hold);
}

void ListingCache::dropUnheld(const std::optional<QString>& next)
{
    std::erase_if(folders_, [&](const auto& folder) { return folder.first != next && !holds_.contains(folder.first); });
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
        std::vector<std::pair<std::string, int64_t>> files;
        if (listing) {
            files.reserve(listing->files.size());
            for (FileEntry& file : listing->files)
                files.emplace_back(std::move(file.name), int64_t(file.size));
            listing.reset();
        }
        folders_.insert_or_assign(destDir, compact(std::move(files)));
    } catch (...) {
        failure = std::current_exception();
    }
    inFlight_.erase(destDir);
    latch->finish(failure);
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace zafrel
