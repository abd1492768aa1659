#pragma once
#include "cli/options.h"
#include "client/records.h"

#include <QCoro/QCoroTask>

#include <functional>

namespace zafrel {

class UploadManager;

// Signs in anew when the service ends the session mid-run; answers whether it worked.
using SignInAgain = std::function<QCoro::Task<bool>()>;

// The unattended upload itself, once a session exists: `manager` (the window's engine when the
// window is shown beside the run) uploads the paths of `options` to its "--dest" folder in
// `user`'s bucket. A path it cannot take is told on standard error at once. When nothing is left
// to do the report and the route are printed and the process ends with 0 (every path taken, every
// line of the report "OK verificado" or "ya existía") or 1. A run paused because the service or the
// store stayed out of reach ends with 1, one because the session ended with 2, after one line on
// standard error; its files wait, paused, for the same command. When the session ends, `signInAgain` (if any) is tried once and
// the run goes on.
QCoro::Task<void> uploadAndReport(Options options, User user, UploadManager& manager, SignInAgain signInAgain = {});

}  // namespace zafrel
