#pragma once
#include "cli/options.h"

#include <cstdint>
#include <optional>

namespace zafrel {

// What "--limite VELOCIDAD" asks for.
struct SendRateOption {
    bool given = false;
    std::optional<int64_t> bytesPerSecond;   // nothing when the value is missing or not a rate; 0: no cap
};
SendRateOption sendRateOption(const Options& options);

// The line for a "--limite" whose value is not a rate.
QString sendRateProblem();

}  // namespace zafrel
