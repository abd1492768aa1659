#pragma once
#include <cstdint>
#include <optional>

namespace zafrel {

// The object store's own limits on a multipart upload: no part above 5 GiB, at most 10,000 parts.
// A plan outside them would be refused by the store after every byte had been sent, or (with a
// part count that overflows) would complete an object without sending anything.
inline constexpr int64_t kMaxPartSize = int64_t(5) << 30;
inline constexpr int64_t kMaxParts = 10000;

// How many parts of `partSize` bytes carry a file of `size` bytes, or nothing when that plan is
// unusable: a part size below `minPart` or above kMaxPartSize, no part at all, or more than
// kMaxParts parts. Never overflows, whatever the numbers.
std::optional<int64_t> partCount(int64_t size, int64_t partSize, int64_t minPart);

// How many of a run's part permits (each worth `minPart` bytes of part memory) one part of
// `partSize` bytes takes, so that the part bodies in memory stay within permits × minPart
// whatever the part size. At least 1, at most `permits` (a part larger than all of them together
// goes alone).
int permitsPerPart(int64_t partSize, int64_t minPart, int permits);

}  // namespace zafrel
