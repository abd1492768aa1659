#pragma once
#include "cli/program.h"

namespace zafrel::ui {

// The window's program (see WindowProgram): the window, beside the upload `options` ask for if any.
int runWindow(int& argc, char** argv, const Options& options);

}  // namespace zafrel::ui
