#pragma once
#include "engine/run/pause_cause.h"
#include "engine/run/route_decision.h"

#include <QString>
#include <QtGlobal>

namespace zafrel {

// What a run tells the one who started it (the manager), on the main thread. Nothing of it is
// needed for the run to wind down: a run whose manager has gone goes on without being heard.
class RunSink {
public:
    // The first run that measured the route decided it.
    virtual void routeDecided(const RouteDecision& route) = 0;
    // Bytes that reached the store; also after the run has ended.
    virtual void bytesSent(qint64 bytes) = 0;
    // The whole run is to stop, for a cause that is not the fault of a file.
    virtual void pauseRun(PauseCause cause) = 0;
    // Nothing is left queued: queues the files that follow those done (the next step of a
    // folder's history at the destination). True when it queued any.
    virtual bool queueFollowUps() = 0;
    // The run's transfers have ended; the files queued from now on are the next run's.
    virtual void transfersEnded() = 0;
    // The run has wound down: the queue file is written and the service told.
    virtual void runFinished() = 0;

protected:
    ~RunSink() = default;
};

// The sink a manager's runs share, cleared when the manager goes, so that a run winding down
// after it only finishes what it had started.
struct RunSinkLink {
    RunSink* sink = nullptr;
};

}  // namespace zafrel
