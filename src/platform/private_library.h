#pragma once

namespace zafrel {

// The program's own libraries (the engine behind the command line, the window) are loaded only when
// a run needs them, so that answering "--version" or "--help" maps none of what they link. They live
// in ../lib/zafrel from the executable's folder once installed, or beside the executable in a build
// folder; only those two places are looked in, never the system's search path, so no other file of
// the same name stands in for them.
//
// The address of the function `symbol` in the library `fileName` (e.g. "libzafrel_window.so"), or
// nullptr when the library is missing, cannot be loaded (a library it needs is missing) or lacks it.
void* privateLibrarySymbol(const char* fileName, const char* symbol);

}  // namespace zafrel
