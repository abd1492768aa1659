#pragma once
#include <QtGlobal>

namespace zafrel {

// How much the engine does at once and where it splits files, fixed for a manager's life. The
// program always runs with these defaults; tests shrink them to send large-file plans without
// large files. The waits between attempts are the shared schedule of platform/retry_schedule.h.
struct EngineLimits {
    // Files above singlePutMax go filesParallel at a time; files up to it, whose single request is
    // mostly waiting on round trips, up to smallFilesParallel.
    int filesParallel = 2;
    int smallFilesParallel = 8;
    int partsParallel = 8;
    qint64 minPart = 33554432;
    qint64 singlePutMax = 33554432;
    // Upload starts asked for ahead of small files' turns, at most this many at a time.
    int startsAhead = 8;
};

}  // namespace zafrel
