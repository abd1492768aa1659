#pragma once
// What tests set and read of a manager that the program itself does not: a list, a state or a
// route put in place at once, its queue on disk, its route probe and a transfer's context.
#include "engine/queue/queue_store.h"
#include "engine/run/route_probe.h"
#include "engine/run/run_resources.h"
#include "engine/run/upload_run.h"
#include "engine/transfer/transfer_context.h"
#include "engine/upload_manager.h"

#include <utility>
#include <vector>

namespace zafrel {

struct ManagerTestAccess {
    static void setItems(UploadManager& m, std::vector<ItemPtr> items) { m.setItems(std::move(items)); }
    static void appendItems(UploadManager& m, std::vector<ItemPtr> items) { m.appendItems(std::move(items)); }
    static void setIsRunning(UploadManager& m, bool running) { m.setIsRunning(running); }
    static void setSpeed(UploadManager& m, double speed) { m.setSpeed(speed); }
    static void setRoute(UploadManager& m, RouteDecision route) { m.setRoute(route); }
    static RouteProbe& routeProbe(UploadManager& m) { return m.resources_->probe; }
    // persist(), persistPart(), queuePath(), journalPath().
    static QueueStore& store(UploadManager& m) { return m.resources_->store; }
    // What a transfer of `m` uses, as a run makes it; valid while `m` lives.
    static TransferContext transferContext(UploadManager& m)
    {
        return makeTransferContext(*m.resources_, m.api_, m.replaceOtherFiles_, m.sinkLink_);
    }
};

}  // namespace zafrel
