#pragma once
#include "engine/queue/upload_item.h"
#include "engine/transfer/async_semaphore.h"
#include "engine/transfer/transfer_context.h"

#include <QCoro/QCoroTask>

#include <stop_token>

namespace zafrel {

// Files above the single-request limit, as a multipart upload: continues an open upload with its
// missing parts, or starts one; completes it once every part is stored and verified.
QCoro::Task<void> sendInParts(TransferContext& ctx, ItemPtr it, AsyncSemaphore& sem, std::stop_token stop);

}  // namespace zafrel
