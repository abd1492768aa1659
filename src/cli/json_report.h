#pragma once
#include <QDateTime>

#include <string>

namespace zafrel {

class UploadManager;

// The run's report for scripts and media-asset tools (`--json`): one JSON document with the run's
// start and end, the destination, the route, the totals, and per item the local path, the
// destination name, the store's key, the size, the state, the error text and whether the store's
// digest matched. The items and totals are those of the text report, in its order.
std::string jsonReport(const UploadManager& manager, const QDateTime& start, const QDateTime& end);

}  // namespace zafrel
