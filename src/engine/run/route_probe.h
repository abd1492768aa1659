#pragma once
#include "engine/run/route_decision.h"

#include <QString>

#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

#include <stop_token>

namespace zafrel {

class HttpSession;

// The accelerated route is worth it only when it is clearly faster (by more than a fifth) and the
// direct one is slow enough for the difference to matter (over 60 ms). Both comparisons strict.
RouteDecision decideRoute(double directMs, double acceleratedMs);

// Whether a bucket name can stand as the first label(s) of a host name: the service hands out valid
// S3 names; anything else (empty, slashes, blanks...) is not probed at all.
bool isProbeableBucket(const QString& bucket);

// Best of three "HEAD" round trips to `url`, one after the other, each with a 5 s timeout. A request
// that fails is timed like one that answers. Stops early (answering the best so far, or infinity)
// when `stop` fires. `measured` hears each round trip as soon as it is timed.
QCoro::Task<double> pingHost(HttpSession& session, QString url, std::stop_token stop = {},
                             std::function<void(double)> measured = {});

// Which route the uploads of one manager take. Decided by the first run that gets to measure
// both hosts; kept for the manager's life afterwards.
class RouteProbe {
public:
    // Nothing until a probe has decided.
    const std::optional<bool>& accelerate() const { return accelerate_; }
    // Decides without measuring, for a manager whose route is known beforehand.
    void assume(bool accelerate) { accelerate_ = accelerate; }
    // Measures the direct and the accelerated host of `bucket` together and decides, answering
    // the decision to show. A bucket that cannot stand in a host name is not probed (direct,
    // nothing to show); a probe cut short by `stop` decides nothing, so the next run measures again.
    // `certain` is called once, as soon as no round trip still to come can change the decision: a
    // direct host that answered within 60 ms can no longer lose to the accelerated one, so the
    // uploads need not wait for the other round trips, which only make the figure shown. A route
    // certain before the probe ends is therefore the direct one, as accelerate() still unset reads.
    QCoro::Task<std::optional<RouteDecision>> run(HttpSession& session, QString bucket, std::stop_token stop,
                                                  std::function<void()> certain = {});

private:
    std::optional<bool> accelerate_;
};

}  // namespace zafrel
