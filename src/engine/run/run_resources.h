#pragma once
#include "engine/destination/destination_records.h"
#include "engine/run/engine_limits.h"
#include "engine/run/listing_cache.h"
#include "engine/transfer/part_buffer_pool.h"
#include "engine/queue/queue_store.h"
#include "engine/queue/upload_queue.h"
#include "engine/run/route_probe.h"
#include "engine/queue/suspect_destinations.h"
#include "engine/transfer/transfer_context.h"
#include "platform/http.h"

#include <memory>

namespace zafrel {

// What a manager's runs and their transfers use. The manager and each run hold it together, so a
// run that is still winding down when its manager goes away (its requests ending on the stop)
// touches nothing that went with the manager. Main thread only.
struct RunResources {
    RunResources(ZafrelAPI& api, const EngineLimits& limits, std::unique_ptr<HttpSession> session,
                 QString suspectsPath, QString recordsPath, QString queuePath, QString journalPath)
        : limits(limits),
          session(std::move(session)),
          listings(api),
          suspects(std::move(suspectsPath)),
          records(std::move(recordsPath)),
          partBuffers(int64_t(limits.partsParallel) * limits.minPart),
          store(std::move(queuePath), std::move(journalPath), queue)
    {
    }

    const EngineLimits limits;
    // All object-store traffic: no cookies, 16 connections per host, 3600 s per transfer.
    const std::unique_ptr<HttpSession> session;
    // The route of the manager's uploads, decided by the first run that measured it.
    RouteProbe probe;
    // What the destination folders hold, for the current run only.
    ListingCache listings;
    // Destinations whose object failed verification: never taken as already there.
    SuspectDestinations suspects;
    // What this program verified at each destination, and from which local files.
    DestinationRecords records;
    // Multipart part bodies, within the part permits' budget of partsParallel × minPart bytes;
    // emptied when a run ends.
    PartBufferPool partBuffers;
    // The queue: its items, their changes and where the runs pick the next one.
    UploadQueue queue;
    // The queue on disk; closed when the manager goes (QueueStore::close).
    QueueStore store;
    // Upload starts made ahead during the current run, by item.
    StartsAhead startsAhead;
};

}  // namespace zafrel
