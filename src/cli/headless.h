#pragma once
#include "cli/options.h"

namespace zafrel {

class UploadManager;

// The unattended upload: `zafrel --upload PATH... [--dest DIR] [--login EMAIL [PASSWORD]] [--server URL]`.
class Headless {
public:
    // First, before any engine, session or window exists: the "--server" value becomes this
    // run's service origin (and is stored for later runs), and files this process fails to write
    // are told on standard error from here on.
    static void prepare(const Options& options);
    // Starts the run on the event loop (sign-in, upload, report, then the process exits with 0, 1
    // or 2) without waiting for it; "--pendientes" and "--olvidar" run instead of an upload. It
    // uploads with `engine` when given (the window's, so that the window shows the run), else
    // with an engine of its own.
    static void start(const Options& options, UploadManager* engine = nullptr);
};

}  // namespace zafrel
