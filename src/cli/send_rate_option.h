#pragma once
#include "cli/options.h"

#include <cstdint>
#include <optional>

namespace zafrel {

// What "--limite VELOCIDAD" asks for.
struct SendRateOption {
    bool given = false;
    std::optional<int64_t> bytesPerSecond;   // nothing when the value is missing or not a rate
};
SendRateOption sendRateOption(const Options& options);

// A rate as the command line takes it: a number with its unit, which says whether it counts bytes
// (K, M, G, also written KB, MB, GB: 1K = 1000 bytes per second) or bits (Kbit, Mbit, Gbit, as
// lines are sold), optionally followed by "/s". A bare number, zero, or "Mb" (bits or bytes?) are
// not rates: a cap of 5 bytes per second or none at all is never what a person means.
std::optional<int64_t> parseSendRate(const QString& text);

// The line for a "--limite" whose value `text` is not a rate, with examples.
QString sendRateProblem(const QString& text);

}  // namespace zafrel
