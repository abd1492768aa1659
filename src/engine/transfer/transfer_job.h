#pragma once
#include "client/records.h"
#include "engine/transfer/async_semaphore.h"
#include "engine/transfer/transfer_context.h"
#include "engine/queue/upload_item.h"

#include <QCoro/QCoroTask>

#include <cstdint>
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
