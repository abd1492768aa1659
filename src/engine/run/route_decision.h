#pragma once

namespace zafrel {

// What the route probe concluded: whether uploads take the accelerated host, and the best round
// trip of the host they take (milliseconds).
struct RouteDecision {
    bool accelerate = false;
    double milliseconds = 0;

    bool operator==(const RouteDecision&) const = default;
};

}  // namespace zafrel
