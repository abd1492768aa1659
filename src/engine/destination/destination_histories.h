#pragma once
#include "engine/destination/destination_history.h"

#include <QString>

#include <memory>
#include <vector>

namespace zafrel {

struct IntakeScan;
struct QueueOwner;
class UploadQueue;

// The histories of the drops' managed folders, extended at the destination once their files are
// up: the last files of a run (destination_history.h). Main thread only.
class DestinationHistories {
public:
    // `recordPath`: the record of what was written to each destination folder's history.
    explicit DestinationHistories(QString recordPath);

    // Whether a dropped folder without an ASC MHL history gets one at the destination (a first
    // hash list with the MD5 of its files, and their xxh64 with `withXxh64`), for the intakes from
    // now on. Managed folders always have theirs extended.
    void setStart(bool start, bool withXxh64);
    bool starts() const { return start_; }

    // The folders of the scan whose history goes on at the destination, with their items (the
    // new ones and those already waiting in `queue`); history files an earlier process left
    // unsent for those folders leave `queue`.
    void take(const IntakeScan& scan, const std::vector<ItemPtr>& fresh, UploadQueue& queue);

    // At the end of a run: for each folder whose files are all up, the files of the next step of
    // its history at the destination (the new hash list, then the chain), for queueing under
    // `owner`; or its record as written. What stops nothing but needs saying goes to `notices`.
    std::vector<ItemPtr> advance(const QString& origin, const std::shared_ptr<const QueueOwner>& owner,
                                 std::vector<QString>& notices);

private:
    std::vector<std::shared_ptr<DestinationHistory>> histories_;
    DestinationHistoryRecord record_;
    bool start_ = false;
    bool xxh64_ = false;
};

}  // namespace zafrel
