#pragma once
#include "client/records.h"
#include "engine/transfer/async_semaphore.h"
#include "engine/transfer/transfer_context.h"
#include "engine/queue/upload_item.h"

#include <QByteArray>

#include <QCoro/QCoroTask>

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace zafrel {

// One file's transfer: skips what is already at the destination, sends the rest in one request or
// in parts, and turns every outcome into the item's final state. Never throws. Holds one of
// `sem`'s permits while a body is in memory.
QCoro::Task<void> transferFile(TransferContext& ctx, ItemPtr it, AsyncSemaphore& sem, std::stop_token stop);

// The service's answer to the upload start of the item's file, as it is planned now (the service
// tells a single request from a multipart upload by the size).
QCoro::Task<UploadInit> askUploadStart(TransferContext& ctx, ItemPtr it, std::stop_token stop);

// Asks the service for a fresh target for the same body, when the store refused the old one.
using RenewTarget = std::function<QCoro::Task<PutTarget>()>;
// Sends `data` to the store (put_request.cpp), up to five attempts, waiting 1, 3, 6 and 12 s
// between them; answers the "ETag" header as received, or empty text. After a 403 (a pre-signed
// URL that expired while the body waited) the next attempt goes to a target from `renew`.
// Progress goes to the item as the bytes of `part` (0: the whole file) sent in the current attempt;
// a failed attempt's bytes leave it. A part answered by the store stays counted until the caller
// stores it on the item (UploadItem::recordPart) or the item ends.
QCoro::Task<std::string> putWithRetries(TransferContext& ctx, PutTarget target, QByteArray data, ItemPtr it,
                                        int64_t part, std::stop_token stop, RenewTarget renew = {});

// Files above the single-request limit, as a multipart upload (multipart.cpp).
QCoro::Task<void> sendInParts(TransferContext& ctx, ItemPtr it, AsyncSemaphore& sem, std::stop_token stop);

// Open multipart uploads (open_uploads.cpp). Aborts the item's upload at the service and forgets
// it on the item, so that no part is left stored (and billed) for an upload nothing will complete.
QCoro::Task<void> discardUpload(ZafrelAPI& api, ItemPtr it);
// Before an open upload is continued: one that cannot be (its file changed since its parts were
// sent, its plan is unusable) is discarded, and the item starts anew with the file as it is now.
QCoro::Task<void> reviewOpenUpload(TransferContext& ctx, ItemPtr it);

// After the last byte is verified: the file must still be as it was read, or the "verified" object
// is a snapshot of a file still being written. A change fails the item (FileChangedError) and
// makes the destination suspect.
QCoro::Task<void> ensureStillAsSent(TransferContext& ctx, ItemPtr it);

// Whether the service and the store's answers check out: an ETag, quotes and all, against the
// MD5 of what was sent.
bool etagMatches(std::string etag, const std::string& md5Hex);

// Keeps the whole file's MD5 and its digest in the offload record's format as this transfer read
// them; bytes that are not what the offload recorded fail the file (UploadError).
void takeReadDigests(UploadItem& it, std::string md5, std::string record);

}  // namespace zafrel
