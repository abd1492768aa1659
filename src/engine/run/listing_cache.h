#pragma once
#include <QCoro/QCoroTask>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace zafrel {

class AsyncLatch;
class ZafrelAPI;

// What the store holds in each destination folder, as the service listed it once during a run:
// file name -> size. Used on the main thread only; emptied when a run ends.
//
// A listing is kept compactly (the names' UTF-8 bytes one after the other, an offset and a size
// each: about 12 bytes per file besides its name, where a map of strings took some 140), and only
// while a file of its folder is in flight or next in line (hold(), dropUnheld()): a run over many
// large folders holds one or two listings at a time, not all of them.
class ListingCache {
public:
    explicit ListingCache(ZafrelAPI& api) : api_(api) {}

    // Fetches the listing of `destDir` unless the run has it. Files of one folder start together:
    // concurrent callers share one request, and share its failure too; a failure stores nothing,
    // so the next file of the folder asks again. A folder the service does not know yet holds
    // nothing.
    QCoro::Task<void> fetch(QString destDir, std::stop_token stop);
    bool has(const QString& destDir) const { return folders_.contains(destDir); }
    // The size of `name` in the fetched listing of `destDir`; nothing when it lists no such file
    // (or the folder was not fetched).
    std::optional<int64_t> listedSize(const QString& destDir, const QString& name) const;
    // Whether the fetched listing of `destDir` names `name` with `size`.
    bool lists(const QString& destDir, const QString& name, qint64 size) const { return listedSize(destDir, name) == size; }
    void clear() { folders_.clear(); }

    // A file of `destDir` in flight: its folder's listing stays while the hold lasts.
    class Hold {
    public:
        Hold(ListingCache& cache, QString destDir);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        ListingCache& cache_;
        const QString destDir_;
    };
    // Drops the listings that no hold keeps, but that of `next` (the folder of the next file in
    // line, if any).
    void dropUnheld(const std::optional<QString>& next);

private:
    struct Folder {
        std::string names;              // every name's UTF-8 bytes, in ascending byte order
        std::vector<uint32_t> ends;     // where each name ends in `names`
        std::vector<int64_t> sizes;
    };
    static Folder compact(std::vector<std::pair<std::string, int64_t>> files);

    ZafrelAPI& api_;
    std::map<QString, Folder> folders_;
    std::map<QString, int> holds_;
    std::map<QString, std::shared_ptr<AsyncLatch>> inFlight_;
};

}  // namespace zafrel
