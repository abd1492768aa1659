#pragma once

namespace zafrel {

class Options;

// The window's program, in the window's own library ("zafrel_run_window"), which the command line
// loads only when a display is there: it opens the window (beside the upload `options` ask for, if
// any) and returns the process's exit code.
using WindowProgram = int(int& argc, char** argv, const Options& options);

// Everything the program does past "--help" and "--version": the options checked, then an
// unattended upload, the queue's commands or the window. Returns the process's exit code.
int runProgram(int& argc, char** argv);

}  // namespace zafrel
