// Whose the queued files are: each goes only to the storage of the account it was queued under,
// and only that account sees, continues, retries or completes it.
#include "engine/queue/queue_file.h"
#include "engine/upload_manager.h"
#include "platform/atomic_file.h"
#include "platform/settings.h"
#include "platform/write_failures.h"

#include <QFileInfo>

#include <algorithm>

namespace zafrel {

namespace {

const QString kDestAccountKey = QStringLiteral("destAccount");

}  // namespace

void UploadManager::setAccount(const User& user)
{
    auto account = std::make_shared<const QueueOwner>(ownerOf(user, serviceOrigin()));
    const bool another = !account_ || !(*account_ == *account);
    // A transfer still under way would go on with the new account's session.
    if (account_ && another && (isRunning_ || std::ranges::any_of(queue().items(), [](const ItemPtr& i) { return i->isActive(); })))
        pauseAll();
    account_ = std::move(account);
    separateAccounts();
    if (!another)
        return;
    // "destDir" is the destination of the account that signed in last (of whoever signs in first,
    // when an older version wrote it); another account finds its own again, or the top folder.
    const QString identity = account_->identity();
    const QString lastAccount = settings::value(kDestAccountKey).value_or(QString());
    QString dest = destDir_;
    if (!lastAccount.isEmpty() && lastAccount != identity)
        dest = settings::value(destinationSettingKey(*account_)).value_or(QString());
    settings::setValue(kDestAccountKey, identity);
    setDestDir(dest);
    emit accountChanged();
}

int UploadManager::otherAccountsWaiting() const
{
    return int(std::ranges::count_if(queue().aside(), [](const ItemPtr& i) { return isPersisted(i->status()); }));
}

void UploadManager::separateAccounts()
{
    bool claimed = false;
    std::vector<ItemPtr> mine, others;
    for (const std::vector<ItemPtr>* list : {&queue().items(), &queue().aside()}) {
        for (const ItemPtr& item : *list) {
            if (!item->owner) {
                // Queued by an older version, which knew no accounts: whoever signs in first.
                item->owner = account_;
                claimed = true;
            }
            if (*item->owner == *account_) {
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
        saveOwners();
    queue().setAside(std::move(others));
    if (mine != queue().items())
        setItems(std::move(mine));
    else
        emit itemsChanged();
}

QString UploadManager::ownersPath() const
{
    return QFileInfo(stateURL()).path() + QStringLiteral("/queue-accounts.json");
}

void UploadManager::saveOwners()
{
    // Written before the queue file names new items: a crash in between leaves an owner without an
    // item, which is passed over, never an item without its owner.
    const QString path = ownersPath();
    if (!writeFileAtomically(path, encodeQueueOwners(queue().whole())))
        WriteFailures::instance().queueNotSaved(path);
}

}  // namespace zafrel
