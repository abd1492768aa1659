#pragma once
#include "engine/intake_scan.h"

#include <QString>

#include <span>

namespace zafrel {

// Gives each file walked below `folder` (a folder handed to the intake) the record to check it
// against from the nearest managed folder above it, `folder` itself or any below it. Recorded
// files that are not there, files there without a record, and histories that cannot be read are
// added to `notices`: none of them stops a file from going up.
void attachOffloadRecords(const QString& folder, std::span<ScannedFile> files, std::vector<QString>& notices);

}  // namespace zafrel
