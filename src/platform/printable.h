#pragma once
#include <QString>

#include <string>
#include <string_view>

namespace zafrel {

// Text that comes from outside (file names, object keys, the service's and the object store's
// messages), made fit to print on one line: every run of control characters (C0 and C1 controls,
// DEL, line and paragraph separators, bidirectional overrides and isolates) becomes one blank, and
// a run at either end is dropped. Such text can then neither split a report line in two, nor steer
// a terminal (an escape sequence loses its ESC), nor make a line read in another order than it is
// written. Every place that prints or shows such text goes through this one function.
QString printable(const QString& text);
// The same for UTF-8 text; bytes that are not UTF-8 come out as U+FFFD.
std::string printable(std::string_view utf8);

}  // namespace zafrel
