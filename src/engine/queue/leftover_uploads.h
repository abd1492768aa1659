#pragma once
// The open multipart uploads of items that leave the queue. The store keeps (and bills) the parts
// of an upload until it is completed or aborted, so none is let go of without an abort.
#include "engine/queue/upload_item.h"

#include <QCoro/QCoroTask>
#include <QString>

#include <vector>

namespace zafrel {

class ZafrelAPI;

// Forgets the item's open multipart upload at once and aborts it at the service without waiting,
// so that no part is left stored (and billed) for an upload nothing will complete.
void discardUploadLater(ZafrelAPI& api, UploadItem& item);

// The paused and failed items of a queue taken out for good.
struct ForgottenLeftovers {
    int items = 0;            // taken out of the queue
    int abortedUploads = 0;   // of them, with an open upload the service aborted
    int kept = 0;             // left in the queue: the service did not abort their upload
    QString failure;          // the message of the last failed abort
    std::vector<ItemPtr> remaining;   // the queue without them, in its order
};

// Takes the paused and failed items out of `items`: each open multipart upload is aborted at the
// service first (waiting for it); an item whose abort fails stays, so that its parts are not left
// stored with nothing to name them.
QCoro::Task<ForgottenLeftovers> forgetLeftovers(ZafrelAPI& api, std::vector<ItemPtr> items);

}  // namespace zafrel
