#pragma once
#include <QString>

namespace zafrel {

// Writes `text` (UTF-8) to standard output, flushes it and ends the event loop with `code`, which
// the program's main() returns. Standard output holds nothing else; standard error holds the
// notices below and, on a terminal, the progress line. Any progress line is erased first.
void exitWithOutput(const QString& text, int code);

// How the outcome of the run is written: as text (the report on standard output, a failure's line
// on standard error), or with "--json" as one JSON document on standard output whatever the
// outcome, so that a script can parse every run. Set once, before anything is written.
void setJsonOutput(bool json);
bool jsonOutput();

// A run that ends without a report (an option it cannot take, no session, no sign-in): `message`
// on standard error, or with "--json" the document {"exitCode": code, "error": message} on
// standard output. printFailure only writes (main() then returns `code`); exitWithFailure also
// ends the event loop with `code`.
void printFailure(const QString& message, int code);
void exitWithFailure(const QString& message, int code);

// Writes `line` (UTF-8, a line break added) to standard error at once: notices that must reach
// the person without mixing with the report on standard output.
// A progress line on the terminal is erased first.
void printNotice(const QString& line);

// Writes `line` over the progress line on standard error, which must be a terminal: the cursor
// stays on it so that the next call rewrites it.
void showProgressLine(const QString& line);
// Erases the progress line, if one is shown.
void clearProgressLine();

}  // namespace zafrel
