#include "engine/run/route_probe.h"

#include "engine/endpoint_config.h"
#include "platform/http.h"

#include <QRegularExpression>

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

namespace zafrel {

RouteDecision decideRoute(double directMs, double acceleratedMs)
{
    const bool accelerate = acceleratedMs < 0.8 * directMs && directMs > 60.0;
    return {accelerate, accelerate ? acceleratedMs : directMs};
}

bool isProbeableBucket(const QString& bucket)
{
    // S3 bucket names: lower-case letters, digits, dots and hyphens, 3 to 63 of them.
    static const QRegularExpression valid(QStringLiteral("^[a-z0-9][a-z0-9.-]{1,61}[a-z0-9]$"));
    return valid.match(bucket).hasMatch();
}

QCoro::Task<double> pingHost(HttpSession& session, QString url, std::stop_token stop,
                             std::function<void(double)> measured)
{
    double best = std::numeric_limits<double>::infinity();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (stop.stop_requested())
            break;
        HttpRequest request;
        request.method = "HEAD";
        request.url = url.toStdString();
        request.timeout = std::chrono::seconds(5);
        const auto start = std::chrono::steady_clock::now();
        try {
            co_await session.send(std::move(request), stop);
        } catch (...) {
            // A refusal or a timeout is a measurement too: fast or about 5000 ms.
        }
        if (stop.stop_requested())
            break;   // an interrupted request measured nothing
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, ms);
        if (measured)
            measured(ms);
    }
    co_return best;
}

QCoro::Task<std::optional<RouteDecision>> RouteProbe::run(HttpSession& session, QString bucket, std::stop_token stop,
                                                          std::function<void()> certain)
{
    if (!isProbeableBucket(bucket)) {
        accelerate_ = false;
        co_return std::nullopt;
    }
    const EndpointConfig endpoints = EndpointConfig::current();
    bool told = false;
    const auto tell = [&] {
        if (!std::exchange(told, true) && certain)
            certain();
    };
    // Even an accelerated host answering at once cannot win against a direct one this fast.
    const std::function<void(double)> directMeasured = [&](double ms) {
        if (!decideRoute(ms, 0).accelerate)
            tell();
    };
    // Both tasks start at once (QCoro tasks run eagerly), so the two hosts are measured together.
    auto direct = pingHost(session, endpoints.pingURL(endpoints.directHost(bucket)), stop, directMeasured);
    auto accelerated = pingHost(session, endpoints.pingURL(endpoints.accelHost(bucket)), stop);
    const double directMs = co_await direct;
    const double acceleratedMs = co_await accelerated;
    if (stop.stop_requested())
        co_return std::nullopt;
    const RouteDecision decision = decideRoute(directMs, acceleratedMs);
    accelerate_ = decision.accelerate;
    tell();
    co_return decision;
}

}  // namespace zafrel
