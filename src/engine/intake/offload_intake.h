#pragma once
#include "engine/intake/intake_scan.h"

#include <QString>


namespace zafrel {

// Gives each file walked below `folder` (a folder handed to the intake, going to `folderDest`),
// the files of `scan` from `first` on, the record to check it against from the nearest managed
// folder above it, `folder` itself or any below it, and the history at the destination it belongs
// to; the histories' own files leave the list. Recorded files that are not there, files there
// without a record, and histories that cannot be read are added to the notices: none of them
// stops a file from going up. With `startHistory`, `folder` gets a history when it has none.
void attachOffloadRecords(IntakeScan& scan, size_t first, const QString& folder, const QString& folderDest,
                          bool startHistory);

}  // namespace zafrel
