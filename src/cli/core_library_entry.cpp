// What the executable looks up in the program's library once it has loaded it.
#include "cli/program.h"

extern "C" int zafrel_run_program(int& argc, char** argv) { return zafrel::runProgram(argc, argv); }
