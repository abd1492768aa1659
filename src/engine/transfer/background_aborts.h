#pragma once
#include <string>

namespace zafrel {

class ZafrelAPI;

// Aborts of open multipart uploads that nobody waits for (a cancelled or removed item, a queue
// entry whose file is gone). They belong to the process, not to the manager that sent them: a
// manager may go away at once, and its aborts still end, each within ZafrelAPI::kAbortDeadline.
void abortInBackground(ZafrelAPI& api, std::string key, std::string uploadId);
// How many have not ended yet.
int backgroundAbortsUnderWay();
// For the end of main(), once its event loop has returned: turns the loop until those under way
// have ended, so that no upload is left open at the service for the next run to never find.
void finishBackgroundAborts();

}  // namespace zafrel
