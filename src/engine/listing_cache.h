#pragma once
#include <QCoro/QCoroTask>
#include <QString>

#include <map>
#include <memory>
#include <stop_token>

namespace zafrel {

class AsyncLatch;
class ZafrelAPI;

// What the store holds in each destination folder, as the service listed it once during a run:
// file name -> size. Used on the main thread only; emptied when a run ends.
class ListingCache {
public:
    explicit ListingCache(ZafrelAPI& api) : api_(api) {}

    // Fetches the listing of `destDir` unless the run has it. Files of one folder start together:
    // concurrent callers share one request, and share its failure too; a failure stores nothing,
    // so the next file of the folder asks again. A folder the service does not know yet holds
    // nothing.
    QCoro::Task<void> fetch(QString destDir, std::stop_token stop);
    bool has(const QString& destDir) const { return folders_.contains(destDir); }
    // Whether the fetched listing of `destDir` names `name` with `size`.
    bool lists(const QString& destDir, const QString& name, qint64 size) const;
    void clear() { folders_.clear(); }

private:
    ZafrelAPI& api_;
    std::map<QString, std::map<QString, qint64>> folders_;
    std::map<QString, std::shared_ptr<AsyncLatch>> inFlight_;
};

}  // namespace zafrel
