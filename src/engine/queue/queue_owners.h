#pragma once
#include "client/records.h"
#include "engine/queue/upload_item.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUuid>

#include <memory>
#include <vector>

namespace zafrel {

// The account a queued file was queued under: the service it went to and who was signed in there.
// Its files go only to that account's storage, so no other account continues, retries or
// completes them.
struct QueueOwner {
    QString origin;    // the service origin, as the engine names it
    QString company;   // the company's slug; empty for an administrator
    QString email;     // as the service spells it

    // E-mails are compared without regard to case, as the service does.
    bool operator==(const QueueOwner& other) const;
    // "ana@example.com (demo-films)", or "(administración)" for an administrator.
    QString text() const;
    // One line that names the account, for keys that must tell accounts apart.
    QString identity() const;
};

// The setting under which the destination `account` chose last is remembered.
QString destinationSettingKey(const QueueOwner& account);

// Who is signed in as `user` at the service `origin`.
QueueOwner ownerOf(const User& user, const QString& origin);

// The side file beside queue.json that says whose each queued file is (queue.json's entries stay
// as they always were): the accounts once each, then the item ids of each. Items that it does not
// name (queued by an older version, or its write was lost) have no owner yet.
QByteArray encodeQueueOwners(const std::vector<ItemPtr>& items);
// The owners named by a side file, by item id; empty when the file is unusable.
QHash<QUuid, std::shared_ptr<const QueueOwner>> decodeQueueOwners(const QByteArray& bytes);

}  // namespace zafrel
