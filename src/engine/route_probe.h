#pragma once
#include <QString>

#include <qcoro/qcorotask.h>

#include <stop_token>

namespace zafrel {

class HttpSession;

// What the probe concluded from the two best round-trip times (milliseconds).
struct RouteDecision {
    bool accelerate = false;
    QString route;   // "Ruta acelerada (79 ms)" / "Ruta directa (100 ms)"
};

// The accelerated route is worth it only when it is clearly faster (by more than a fifth) and the
// direct one is slow enough for the difference to matter (over 60 ms). Both comparisons strict.
RouteDecision decideRoute(double directMs, double acceleratedMs);

// Whether a bucket name can stand as the first label(s) of a host name: the service hands out valid
// S3 names; anything else (empty, slashes, blanks...) is not probed at all.
bool isProbeableBucket(const QString& bucket);

// Best of three "HEAD" round trips to `url`, one after the other, each with a 5 s timeout. A request
// that fails is timed like one that answers. Stops early (answering the best so far, or infinity)
// when `stop` fires.
QCoro::Task<double> pingHost(HttpSession& session, QString url, std::stop_token stop = {});

}  // namespace zafrel
