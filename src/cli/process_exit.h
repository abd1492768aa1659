#pragma once
#include <QString>

namespace zafrel {

// Writes `text` (UTF-8) to standard output, flushes it and ends the event loop with `code`, which
// the program's main() returns. The command line writes nothing else anywhere.
void exitWithOutput(const QString& text, int code);

// Writes `line` (UTF-8, a line break added) to standard error at once: notices that must reach
// the person without mixing with the report on standard output.
void printNotice(const QString& line);

}  // namespace zafrel
