#pragma once
#include "client/records.h"
#include "engine/queue/upload_item.h"
#include "engine/transfer/transfer_context.h"

#include <QByteArray>

#include <QCoro/QCoroTask>

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

namespace zafrel {

// Asks the service for a fresh target for the same body, when the store refused the old one.
using RenewTarget = std::function<QCoro::Task<PutTarget>()>;
// Sends `data` to the store, up to five attempts, waiting 1, 3, 6 and 12 s between them; answers
// the "ETag" header as received, or empty text. After a 403 (a pre-signed URL that expired while
// the body waited) the next attempt goes to a target from `renew`.
// Progress goes to the item as the bytes of `part` (0: the whole file) sent in the current attempt;
// a failed attempt's bytes leave it. A part answered by the store stays counted until the caller
// stores it on the item (UploadItem::recordPart) or the item ends.
QCoro::Task<std::string> putWithRetries(TransferContext& ctx, PutTarget target, QByteArray data, ItemPtr it,
                                        int64_t part, std::stop_token stop, RenewTarget renew = {});

}  // namespace zafrel
