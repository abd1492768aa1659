#include "engine/transfer/part_plan.h"

#include <algorithm>

namespace zafrel {

std::optional<int64_t> partCount(int64_t size, int64_t partSize, int64_t minPart)
{
    if (size <= 0 || partSize < minPart || partSize <= 0 || partSize > kMaxPartSize)
        return std::nullopt;
    const int64_t parts = size / partSize + (size % partSize != 0 ? 1 : 0);
    if (parts > kMaxParts)
        return std::nullopt;
    return parts;
}

int permitsPerPart(int64_t partSize, int64_t minPart, int permits)
{
    if (minPart <= 0 || partSize <= minPart)
        return 1;
    const int64_t units = partSize / minPart + (partSize % minPart != 0 ? 1 : 0);
    return int(std::clamp<int64_t>(units, 1, std::max(permits, 1)));
}

}  // namespace zafrel
