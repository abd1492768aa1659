#pragma once
// Whose the queued files are: each goes only to the storage of the account it was queued under,
// and only that account sees, continues, retries or completes it.
#include "engine/queue/upload_item.h"

#include <QHash>
#include <QString>
#include <QUuid>

#include <memory>
#include <vector>

namespace zafrel {

struct QueueOwner;
class UploadQueue;

// Leaves in `queue` the items of `account` and puts aside those of other accounts, taking back
// the ones of `account` that waited aside: a queued one of another account waits paused, a
// finished one goes. The items of an older version, queued under nobody, become `account`'s; the
// side file beside `queuePath` then says so at once.
void separateAccounts(UploadQueue& queue, const std::shared_ptr<const QueueOwner>& account, const QString& queuePath);
// Files of other accounts that wait aside for their account to sign in again.
int otherAccountsWaiting(const UploadQueue& queue);

// The destination folder for `account` as it signs in, `current` being the one in use: "destDir" is
// the destination of the account that signed in last (of whoever signs in first, when an older
// version wrote it); another account finds its own again, or the top folder. Remembers `account`
// as the last one.
QString destinationOnSignIn(const QueueOwner& account, const QString& current);

// The side file beside the queue file at `queuePath` that says whose each queued item is.
QHash<QUuid, std::shared_ptr<const QueueOwner>> readQueueOwners(const QString& queuePath);
// Written before the queue file names new items: a crash in between leaves an owner without an
// item, which is passed over, never an item without its owner. A failed write is told to
// WriteFailures.
void saveQueueOwners(const QString& queuePath, const std::vector<ItemPtr>& whole);

}  // namespace zafrel
