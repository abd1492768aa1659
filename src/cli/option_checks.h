#pragma once
#include "cli/options.h"

#include <optional>

namespace zafrel {

// A value of "--dest" the service would refuse or read otherwise than the person meant (a leading
// "/", a ".." or "." step, two "/" in a row, nothing at all, control characters): the line that
// says so, with an example; nothing when the folder is one the store can hold as written.
std::optional<QString> destProblem(const QString& dest);

// The first reason why the command line cannot run as written (an option without its value, a
// destination, server or rate that is not one): one line for the person, and then nothing may
// be sent. Nothing when the options can be used.
std::optional<QString> optionProblem(const Options& options);

}  // namespace zafrel
