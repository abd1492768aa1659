#pragma once
#include "engine/run/pause_cause.h"

#include <exception>
#include <optional>

namespace zafrel {

// The cause that a transfer's failure gives the whole run, or nothing for a failure of its own file.
std::optional<PauseCause> pauseCauseOf(const std::exception_ptr& failure);

}  // namespace zafrel
