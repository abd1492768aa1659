#pragma once
#include <QString>

namespace zafrel {

class ZafrelAPI;

// The service origin that, with an item's destDir and name, identifies its destination, and with
// the signed-in user the account a file was queued under.
QString serviceOrigin(const ZafrelAPI& api);

}  // namespace zafrel
