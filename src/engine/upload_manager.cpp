#include "engine/upload_manager.h"

#include "engine/transfer/background_aborts.h"
#include "platform/paths.h"
#include "platform/settings.h"

#include <QFile>

#include <algorithm>
#include <optional>

namespace zafrel {

UploadManager::UploadManager(ZafrelAPI& api, EngineLimits limits, std::unique_ptr<HttpTransport> uploadTransport)
    : limits(limits),
      api_(api),
      historyRecord_(paths::dataDir() + QStringLiteral("/mhl-destinations.json")),
      resources_(std::make_shared<RunResources>(
          api, limits, std::make_unique<HttpSession>(HttpSession::uploadConfig(), std::move(uploadTransport)),
          paths::dataDir() + QStringLiteral("/suspects.json"), paths::dataDir() + QStringLiteral("/destinations.json"),
          paths::dataDir() + QStringLiteral("/queue.json"),
          paths::dataDir() + QStringLiteral("/queue.journal"), [this]() -> const std::vector<ItemPtr>& { return wholeQueue(); }))
{
    connect(itemChanges_.get(), &ItemChanges::changed, this, &UploadManager::itemsUpdated);
    // What the file holds needs no writing back.
    destDir_ = settings::value(QStringLiteral("destDir")).value_or(QString());
    restore();
}

UploadManager::~UploadManager()
{
    if (runTask_)
        runTask_->request_stop();
    resources_->store.close();
}

void UploadManager::setItems(std::vector<ItemPtr> items)
{
    items_ = std::move(items);
    for (const ItemPtr& item : items_)
        item->reportTo(itemChanges_);
    pickFrom_ = 0;
    emit itemsReset();
    emit itemsChanged();
}

void UploadManager::appendItems(std::vector<ItemPtr> items)
{
    if (items.empty()) {
        emit itemsChanged();
        return;
    }
    const size_t first = items_.size();
    items_.reserve(first + items.size());
    for (ItemPtr& item : items) {
        item->reportTo(itemChanges_);
        joinRun(*item);
        items_.push_back(std::move(item));
    }
    emit itemsAppended(int(first), int(items_.size() - first));
    emit itemsChanged();
}

void UploadManager::keepOnly(std::vector<ItemPtr> kept)
{
    QList<QUuid> removed;
    size_t k = 0;
    for (const ItemPtr& item : items_) {
        if (k < kept.size() && kept[k] == item)
            ++k;
        else
            removed.push_back(item->id);
    }
    if (k != kept.size()) {
        setItems(std::move(kept));   // not the queue with items left out: a new list
        return;
    }
    if (removed.isEmpty()) {
        emit itemsChanged();
        return;
    }
    items_ = std::move(kept);
    pickFrom_ = 0;
    emit itemsRemoved(removed);
    emit itemsChanged();
}

void UploadManager::setIsRunning(bool running)
{
    isRunning_ = running;
    emit isRunningChanged();
}

void UploadManager::setSpeed(double speed)
{
    speed_ = speed;
    emit speedChanged();
}

void UploadManager::recordSent(qint64 n)
{
    if (lastRun_ && !lastRun_->ended)
        lastRun_->sent += n;
    if (const std::optional<double> rate = meter_.record(n))
        setSpeed(*rate);
}

void UploadManager::setRoute(QString route)
{
    route_ = std::move(route);
    emit routeChanged();
}

void UploadManager::setDestDir(QString destDir)
{
    destDir_ = std::move(destDir);
    QList<std::pair<QString, QString>> keys{{QStringLiteral("destDir"), destDir_}};
    if (account_)
        keys.append({destinationSettingKey(*account_), destDir_});
    settings::setValues(keys);
    emit destDirChanged();
}

void UploadManager::setSendRate(int64_t bytesPerSecond)
{
    sendRate_ = std::max<int64_t>(0, bytesPerSecond);
    resources_->session->setSendRate(sendRate_);
}

void UploadManager::restore()
{
    std::optional<QueueStore::Restored> restored = resources_->store.restore();
    if (!restored)
        return;
    for (auto& [key, uploadId] : restored->abandonedUploads)
        abortInBackground(api_, std::move(key), std::move(uploadId));
    QFile owners(ownersPath());
    const auto ownerOfId = owners.open(QIODevice::ReadOnly) ? decodeQueueOwners(owners.readAll())
                                                             : QHash<QUuid, std::shared_ptr<const QueueOwner>>();
    for (const ItemPtr& item : restored->items)
        item->owner = ownerOfId.value(item->id);
    otherAccounts_.clear();
    setItems(std::move(restored->items));
    if (account_)
        separateAccounts();
}

QString UploadManager::serviceOrigin() const
{
    return api_.baseURL().adjusted(QUrl::StripTrailingSlash | QUrl::NormalizePathSegments).toString();
}

TransferContext UploadManager::transferContext()
{
    RunResources& r = *resources_;
    return TransferContext{
        api_,
        *r.session,
        r.limits,
        r.listings,
        r.suspects,
        r.records,
        r.partBuffers,
        r.store,
        r.startsAhead,
        serviceOrigin(),
        r.probe.accelerate().value_or(false),
        replaceOtherFiles_,
        [self = QPointer<UploadManager>(this)](qint64 n) {
            if (self)
                self->recordSent(n);
        },
        [self = QPointer<UploadManager>(this)](PauseCause cause) {
            if (self)
                self->pauseAll(cause);
        },
    };
}

}  // namespace zafrel
