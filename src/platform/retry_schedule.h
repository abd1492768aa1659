#pragma once
#include <chrono>

namespace zafrel::retry {

// A request to the object store or to the service is tried at most this often before its failure
// stands.
inline constexpr int maxAttempts = 5;

// The wait after failed attempt `attempt` (0 to 3): the whole seconds of 0.8 × 2^(attempt + 1),
// that is 1, 3, 6 and 12 s.
std::chrono::milliseconds waitAfter(int attempt);

// A wait the other side asked for (a "Retry-After" of the service), scaled like the schedule.
std::chrono::milliseconds scaled(std::chrono::milliseconds asked);

// Tests only: multiplies every wait (e.g. 0.001 turns 12 s into 12 ms) so that a test can run the
// whole schedule. Nothing in the program calls it, so the program always waits the full time.
void setWaitScaleForTests(double scale);

}  // namespace zafrel::retry
