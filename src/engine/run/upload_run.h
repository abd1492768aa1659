#pragma once
#include "platform/async.h"

#include <QCoro/QCoroTask>
#include <QString>

#include <cstdint>
#include <memory>
#include <stop_token>

namespace zafrel {

struct RunResources;
struct RunSinkLink;
struct TransferContext;
class ZafrelAPI;

// One run of the queue: it takes the first queued item in queue order, again and again, until
// nothing is queued, so that items queued meanwhile (intake, retry, resumePaused) join it, and
// sends each through its transfer. Small files go up to smallFilesParallel at a time, large ones
// filesParallel at a time, every part and single request sharing partsParallel permits; upload
// starts of the small files next in line are asked ahead of their turn.
//
// It holds what it uses (RunResources) and tells its manager through the sink link only, which it
// checks after every suspension: a run may outlive its manager, its requests ending on the stop
// the manager pulled as it went. Main thread only.
class UploadRun : public std::enable_shared_from_this<UploadRun> {
public:
    struct Plan {
        uint64_t number = 0;   // the items it takes up carry it
        QString bucket;        // whose hosts the route probe measures, when no run has yet
        // Every file may replace another file that holds its name at the destination.
        bool replaceOtherFiles = false;
    };

    // Begins at once what changes nothing at the service (the route's measurement, the listing of
    // the first queued file's folder), and the run itself on a later turn of the event loop: the
    // caller has returned, and written the queue file, by then.
    static std::shared_ptr<UploadRun> begin(std::shared_ptr<RunResources> resources, ZafrelAPI& api,
                                            std::shared_ptr<const RunSinkLink> sink, Plan plan);
    ~UploadRun();

    // Reaches every transfer; the run then takes nothing more and winds down. Nothing once it has.
    void stop() { stop_.request_stop(); }
    bool stopRequested() const { return stop_.stop_requested(); }

private:
    struct Opening;

    UploadRun(std::shared_ptr<RunResources> resources, ZafrelAPI& api, std::shared_ptr<const RunSinkLink> sink,
              Plan plan);
    // Tells the sink the route measured; the uploads go as soon as it is certain, often before.
    QCoro::Task<void> measureRoute();
    QCoro::Task<void> windDown();
    QCoro::Task<void> sendQueue();
    // Adds to `group` the upload starts of the next few queued small files after the last one
    // picked, for those whose folder listing says they are to be sent.
    void startAheadOfTurn(TransferContext& ctx, TaskGroup<void>& group);

    const std::shared_ptr<RunResources> resources_;
    ZafrelAPI& api_;
    const std::shared_ptr<const RunSinkLink> sink_;
    const Plan plan_;
    std::stop_source stop_;
    std::unique_ptr<Opening> opening_;
};

// What each transfer of a run over `resources` uses; what it tells the manager goes through `sink`.
TransferContext makeTransferContext(RunResources& resources, ZafrelAPI& api, bool replaceOtherFiles,
                                    std::shared_ptr<const RunSinkLink> sink);

}  // namespace zafrel
