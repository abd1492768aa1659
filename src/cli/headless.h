#pragma once
#include <QStringList>

namespace zafrel {

// The unattended upload: `zafrel --upload PATH... [--dest DIR] [--login EMAIL PASSWORD] [--server URL]`.
class Headless {
public:
    // Called once, first thing at the program's start, on the main thread. Without "--upload"
    // among `arguments` (element 0 is the program path) it does nothing and answers false.
    // Otherwise it stores the "--server" value as the service origin, starts the unattended run on
    // the event loop (sign-in, upload, report, then the process exits with 0, 1 or 2) and answers
    // true without waiting for it.
    static bool runIfRequested(const QStringList& arguments);
};

}  // namespace zafrel
