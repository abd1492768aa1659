#pragma once
#include "engine/queue/upload_item.h"
#include "engine/transfer/transfer_context.h"

#include <QCoro/QCoroTask>

namespace zafrel {

class ZafrelAPI;

// Aborts the item's upload at the service and forgets it on the item, so that no part is left
// stored (and billed) for an upload nothing will complete.
QCoro::Task<void> discardUpload(ZafrelAPI& api, ItemPtr it);
// Before an open upload is continued: one that cannot be (its file changed since its parts were
// sent, its plan is unusable) is discarded, and the item starts anew with the file as it is now.
QCoro::Task<void> reviewOpenUpload(TransferContext& ctx, ItemPtr it);

}  // namespace zafrel
