#pragma once
#include "cli/options.h"

#include <QCoro/QCoroTask>

namespace zafrel {

// What the files of the given paths would become at the "--dest" folder, worked out from the
// service's listings alone: nothing is queued, started or sent.
enum class DestinationCheck {
    // "--simular": per file, sent (with its size and where) or skipped and why, and the totals;
    // exit 0, or 1 when a path cannot be taken.
    Simulate,
    // "--comprobar": per file, whether the destination holds it with the same size and without a
    // failed verification; exit 0 when every file is there and every path was taken, else 1.
    Verify,
};

// Runs the check with the session already signed in, then ends the process (text, or the JSON
// document with "--json"). A listing the service does not give ends it with code 2.
QCoro::Task<void> checkDestination(Options options, DestinationCheck mode);

}  // namespace zafrel
