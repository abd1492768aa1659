#pragma once
#include <QString>

namespace zafrel {

// Writes `text` (UTF-8) to standard output, flushes it and ends the event loop with `code`, which
// the program's main() returns. The command line writes nothing else anywhere.
void exitWithOutput(const QString& text, int code);

}  // namespace zafrel
