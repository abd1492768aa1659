#pragma once
#include "client/records.h"
#include "engine/run/engine_limits.h"
#include "engine/run/pause_cause.h"
#include "engine/queue/upload_item.h"
#include "platform/async_latch.h"

#include <QString>
#include <QUuid>

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace zafrel {

class DestinationRecords;
class HttpSession;
class ListingCache;
class PartBufferPool;
class QueueStore;
class SuspectDestinations;
class ZafrelAPI;

// A pre-signed URL and the Content-Type it was signed for (empty for parts).
struct PutTarget {
    std::string url;
    std::string contentType;
};

// An upload start asked for before a small file's turn (UploadRun), so that its single
// request goes out once it has a permit instead of waiting one more round trip.
struct StartAhead {
    std::weak_ptr<UploadItem> item;
    qint64 size = 0;   // the size it was asked for
    UploadInit init;   // once done has finished without error
    AsyncLatch done;
};
using StartsAhead = std::map<QUuid, std::shared_ptr<StartAhead>>;

// What one file's transfer may use of its run: narrower than the manager, so that a transfer
// changes its own item and what it sent, never the queue or the run's controls. The run holds it
// and outlives its transfers.
struct TransferContext {
    ZafrelAPI& api;
    HttpSession& session;   // the object store's
    const EngineLimits& limits;
    ListingCache& listings;
    SuspectDestinations& suspects;
    DestinationRecords& records;
    PartBufferPool& partBuffers;
    QueueStore& store;
    StartsAhead& startsAhead;
    QString origin;   // the service origin that, with an item's destDir and name, names its destination
    bool accelerate = false;
    // Every file of the run may replace another file that holds its name at the destination (the
    // command line's "--reemplazar"); otherwise only an item that allows it.
    bool replaceOtherFiles = false;
    // Bytes that reached the store. Called on the main thread, also after the run has ended.
    std::function<void(qint64)> recordSent;
    // Stops the whole run, for a cause that is not the fault of the file.
    std::function<void(PauseCause)> pauseRun;
};

}  // namespace zafrel
