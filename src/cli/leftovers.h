#pragma once
#include "engine/queue/upload_item.h"

#include <QString>

#include <vector>

namespace zafrel {

// Items that earlier runs left in the queue: paused (interrupted) or failed. They keep every later
// run of other files at exit 1 until they are continued or forgotten.
bool isLeftover(const UploadItem& item);

// "--pendientes": one line per leftover (state, size, local path, destination, account,
// tab-separated) and a closing line that says what to do with them.
QString leftoverListing(const std::vector<ItemPtr>& items);

// "--olvidar": what was taken out of the queue, how many open uploads were aborted with it, and
// what stays because the service did not abort its upload.
QString forgottenText(int items, int abortedUploads, int kept, const QString& failure);

}  // namespace zafrel
