#pragma once
// Taking files into the queue: a drop, the file chooser or a command line's paths.
#include "engine/queue/upload_item.h"

#include <memory>
#include <vector>

namespace zafrel {

struct IntakeScan;
struct QueueOwner;

// The new items, under `owner`, for the files of `scan` that `queue` does not hold yet. Only items
// that still wait or hold a place block a second copy; finished, failed and cancelled ones do not.
// New items are not compared with each other.
std::vector<ItemPtr> itemsToQueue(const IntakeScan& scan, const std::vector<ItemPtr>& queue,
                                  const std::shared_ptr<const QueueOwner>& owner);

// Continuing an interrupted command-line run. A run that was killed leaves its unfinished items in
// the queue file, where they come back paused (or in error). A paused item keeps an intake from
// queueing the same file for the same place again, so the same command given once more would
// queue nothing, upload nothing and end as a success. These are the items of `queue` that the
// command's `scan` names, paused or failed, for queueing again: each takes the offload record read
// now, as the queue file keeps none.
std::vector<ItemPtr> leftoversNamedBy(const IntakeScan& scan, const std::vector<ItemPtr>& queue);

}  // namespace zafrel
