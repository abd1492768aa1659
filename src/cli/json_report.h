#pragma once
#include "engine/intake/intake_scan.h"
#include "engine/queue/upload_item.h"

#include <QDateTime>

#include <optional>
#include <string>
#include <vector>

namespace zafrel {

class UploadManager;

// How a run ended, beside its items: the exit code, the line said about the run as a whole (a
// pause, or nothing), and the paths it could not take.
struct RunOutcome {
    int exitCode = 0;
    std::optional<QString> error;
    std::vector<IntakeProblem> problems;
};

// The run's report for scripts and media-asset tools (`--json`): one JSON document with the exit
// code, the run's error, its start and end, the destination, the route, the totals, the paths it
// could not take ("problems": path and message) and per item the local path, the destination
// name, the store's key, the size, the state, the error text and whether the store's digest
// matched. The items and totals are those of the text report, in its order; the fields are listed
// in the manual page and in --help.
std::string jsonReport(const UploadManager& manager, const QDateTime& start, const QDateTime& end,
                       const RunOutcome& outcome);

// A run that ended before any report: {"exitCode": code, "error": message}.
std::string jsonFailure(const QString& message, int code);

// "--pendientes --json": the queue's leftovers ({"exitCode": 0, "items": [...]}, each item with
// path, destination, size, status and error) and how many are paused and failed.
std::string jsonLeftovers(const std::vector<ItemPtr>& items);

// "--olvidar --json": what was taken out of the queue and what stays.
std::string jsonForgotten(int items, int abortedUploads, int kept, const QString& failure, int code);

}  // namespace zafrel
