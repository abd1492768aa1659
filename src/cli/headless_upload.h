#pragma once
#include "cli/options.h"
#include "client/records.h"

#include <QCoro/QCoroTask>

namespace zafrel {

// The unattended upload itself, once a session exists: a fresh engine uploads the paths of
// `options` to its "--dest" folder in `user`'s bucket; when nothing is left to do the report and
// the route are printed and the process ends with 0 (no file in error) or 1.
QCoro::Task<void> uploadAndReport(Options options, User user);

}  // namespace zafrel
