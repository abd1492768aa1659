#pragma once

namespace zafrel {

// Why a run stopped taking files before its queue was done: the service or the store stayed out of
// reach through every retry, or the service ended the session (401). Neither is the fault of the
// files, so they end paused, to be continued, not failed one by one.
enum class PauseCause { NoConnection, SessionEnded };

}  // namespace zafrel
