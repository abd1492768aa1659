#include "engine/upload_manager.h"

#include "engine/run/upload_run.h"
#include "engine/service_origin.h"
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
          paths::dataDir() + QStringLiteral("/queue.journal")))
{
    UploadQueue& q = queue();
    connect(&q.changes(), &ItemChanges::changed, this, &UploadManager::itemsUpdated);
    connect(&q, &UploadQueue::reset, this, &UploadManager::itemsReset);
    connect(&q, &UploadQueue::appended, this, &UploadManager::itemsAppended);
    connect(&q, &UploadQueue::removed, this, &UploadManager::itemsRemoved);
    connect(&q, &UploadQueue::changed, this, &UploadManager::itemsChanged);
    // What the file holds needs no writing back.
    destDir_ = settings::value(QStringLiteral("destDir")).value_or(QString());
    restore();
}

UploadManager::~UploadManager()
{
    sinkLink_->sink = nullptr;
    if (run_)
        run_->stop();
    resources_->store.close();
}

void UploadManager::setItems(std::vector<ItemPtr> items)
{
    queue().set(std::move(items));
}

void UploadManager::appendItems(std::vector<ItemPtr> items)
{
    queue().append(std::move(items), runTakesNewFiles() ? std::optional(lastRun_->number) : std::nullopt);
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
    queue().setAside({});
    setItems(std::move(restored->items));
    if (account_)
        separateAccounts();
}

QString UploadManager::serviceOrigin() const
{
    return zafrel::serviceOrigin(api_);
}

TransferContext UploadManager::transferContext()
{
    return makeTransferContext(*resources_, api_, replaceOtherFiles_, sinkLink_);
}

}  // namespace zafrel
