#include "engine/queue/queue_accounts.h"

#include "engine/queue/queue_file.h"
#include "engine/queue/queue_owners.h"
#include "engine/queue/upload_queue.h"
#include "platform/atomic_file.h"
#include "platform/settings.h"
#include "platform/write_failures.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace zafrel {

namespace {

const QString kDestAccountKey = QStringLiteral("destAccount");

QString ownersPath(const QString& queuePath)
{
    return QFileInfo(queuePath).path() + QStringLiteral("/queue-accounts.json");
}

}  // namespace

void separateAccounts(UploadQueue& queue, const std::shared_ptr<const QueueOwner>& account, const QString& queuePath)
{
    bool claimed = false;
    std::vector<ItemPtr> mine, others;
    for (const std::vector<ItemPtr>* list : {&queue.items(), &queue.aside()}) {
        for (const ItemPtr& item : *list) {
            if (!item->owner) {
                // Queued by an older version, which knew no accounts: whoever signs in first.
                item->owner = account;
                claimed = true;
            }
            if (*item->owner == *account) {
                mine.push_back(item);
            } else if (isPersisted(item->status())) {
                if (item->status() == Status::Queued)
                    item->setStatus(Status::Paused);
                others.push_back(item);
            }
            // A finished row of another account has nothing left to wait for: it goes.
        }
    }
    if (claimed)
        saveQueueOwners(queuePath, queue.whole());
    queue.setAside(std::move(others));
    if (mine != queue.items())
        queue.set(std::move(mine));
    else
        emit queue.changed();
}

int otherAccountsWaiting(const UploadQueue& queue)
{
    return int(std::ranges::count_if(queue.aside(), [](const ItemPtr& i) { return isPersisted(i->status()); }));
}

QString destinationOnSignIn(const QueueOwner& account, const QString& current)
{
    const QString identity = account.identity();
    const QString lastAccount = settings::value(kDestAccountKey).value_or(QString());
    QString dest = current;
    if (!lastAccount.isEmpty() && lastAccount != identity)
        dest = settings::value(destinationSettingKey(account)).value_or(QString());
    settings::setValue(kDestAccountKey, identity);
    return dest;
}

QHash<QUuid, std::shared_ptr<const QueueOwner>> readQueueOwners(const QString& queuePath)
{
    QFile owners(ownersPath(queuePath));
    return owners.open(QIODevice::ReadOnly) ? decodeQueueOwners(owners.readAll())
                                            : QHash<QUuid, std::shared_ptr<const QueueOwner>>();
}

void saveQueueOwners(const QString& queuePath, const std::vector<ItemPtr>& whole)
{
    const QString path = ownersPath(queuePath);
    if (!writeFileAtomically(path, encodeQueueOwners(whole)))
        WriteFailures::instance().queueNotSaved(path);
}

}  // namespace zafrel
