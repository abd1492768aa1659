#pragma once
#include "cli/options.h"
#include "client/records.h"

#include <QCoro/QCoroTask>

namespace zafrel {

class UploadManager;

// The unattended upload itself, once a session exists: `manager` (the window's engine when the
// window is shown beside the run) uploads the paths of `options` to its "--dest" folder in
// `user`'s bucket. A path it cannot take is told on standard error at once. When nothing is left
// to do the report and the route are printed and the process ends with 0 (every path taken, no
// file in error) or 1.
QCoro::Task<void> uploadAndReport(Options options, User user, UploadManager& manager);

}  // namespace zafrel
