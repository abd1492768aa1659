#pragma once
#include "cli/options.h"
#include "client/records.h"

#include <QCoro/QCoroTask>

#include <functional>

namespace zafrel {

// Signs in anew when the service ends the session mid-run; answers whether it worked.
using SignInAgain = std::function<QCoro::Task<bool>()>;

// The unattended upload itself, once a session exists: a fresh engine uploads the paths of
// `options` to its "--dest" folder in `user`'s bucket; when nothing is left to do the report and
// the route are printed and the process ends with 0 (no file in error) or 1. A run paused because
// the service or the store stayed out of reach ends with 1, one because the session ended with 2,
// after one line on standard error; its files wait, paused, for the same command. When the
// session ends, `signInAgain` (if any) is tried once and the run goes on.
QCoro::Task<void> uploadAndReport(Options options, User user, SignInAgain signInAgain = {});

}  // namespace zafrel
