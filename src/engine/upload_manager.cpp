// The manager's state and what it hears from its runs; its controls are in upload_controls.cpp.
#include "engine/upload_manager.h"

#include "client/zafrel_api.h"
#include "engine/destination/destination_histories.h"
#include "engine/queue/item_changes.h"
#include "engine/queue/queue_accounts.h"
#include "engine/queue/queue_owners.h"
#include "engine/report.h"
#include "engine/run/run_resources.h"
#include "engine/run/upload_run.h"
#include "engine/service_origin.h"
#include "engine/transfer/background_aborts.h"
#include "platform/http.h"
#include "platform/paths.h"
#include "platform/settings.h"

#include <QDateTime>

#include <optional>
#include <utility>

namespace zafrel {

UploadManager::UploadManager() : UploadManager(ZafrelAPI::shared()) {}

UploadManager::UploadManager(ZafrelAPI& api, EngineLimits limits) : UploadManager(api, limits, nullptr) {}

UploadManager::UploadManager(ZafrelAPI& api, EngineLimits limits, std::unique_ptr<HttpTransport> uploadTransport)
    : api_(api),
      offloadNotices_(std::make_unique<OffloadNotices>()),
      histories_(std::make_unique<DestinationHistories>(paths::dataDir() + QStringLiteral("/mhl-destinations.json"))),
      resources_(std::make_shared<RunResources>(
          api, limits, std::make_unique<HttpSession>(HttpSession::uploadConfig(), std::move(uploadTransport)),
          paths::dataDir() + QStringLiteral("/suspects.json"), paths::dataDir() + QStringLiteral("/destinations.json"),
          paths::dataDir() + QStringLiteral("/queue.json"), paths::dataDir() + QStringLiteral("/queue.journal")))
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
    // A run winding down takes no item more: the items go with the manager, told to no one.
    queue().blockSignals(true);
    queue().setAside({});
    queue().set({});
}

UploadQueue& UploadManager::queue() const
{
    return resources_->queue;
}

const std::vector<ItemPtr>& UploadManager::items() const
{
    return queue().items();
}

void UploadManager::deliverItemChanges()
{
    queue().changes().deliver();
}

void UploadManager::setItems(std::vector<ItemPtr> items)
{
    queue().set(std::move(items));
}

void UploadManager::appendItems(std::vector<ItemPtr> items)
{
    queue().append(std::move(items), runJoined());
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

void UploadManager::setRoute(RouteDecision route)
{
    route_ = route;
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

int UploadManager::otherAccountsWaiting() const
{
    return zafrel::otherAccountsWaiting(queue());
}

void UploadManager::setStartHistories(bool start, bool withXxh64)
{
    histories_->setStart(start, withXxh64);
}

bool UploadManager::startsHistories() const
{
    return histories_->starts();
}

void UploadManager::persistNow()
{
    resources_->store.persistNow();
    resources_->records.flush();
}

void UploadManager::restore()
{
    std::optional<QueueStore::Restored> restored = resources_->store.restore();
    if (!restored)
        return;
    for (auto& [key, uploadId] : restored->abandonedUploads)
        abortInBackground(api_, std::move(key), std::move(uploadId));
    const auto ownerOfId = readQueueOwners(queuePath());
    for (const ItemPtr& item : restored->items)
        item->owner = ownerOfId.value(item->id);
    queue().setAside({});
    setItems(std::move(restored->items));
    if (account_)
        separateAccounts(queue(), account_, queuePath());
}

QString UploadManager::serviceOrigin() const
{
    return zafrel::serviceOrigin(api_);
}

QString UploadManager::queuePath() const
{
    return resources_->store.queuePath();
}

void UploadManager::saveOwners()
{
    saveQueueOwners(queuePath(), queue().whole());
}

Summary UploadManager::summary() const
{
    return queue().summary();
}

QString UploadManager::report() const
{
    return queueReportText(items(), destDir_, *offloadNotices_);
}

std::vector<ItemPtr> UploadManager::runItems() const
{
    return itemsOfRun(items(), lastRun_);
}

QString UploadManager::runReport() const
{
    return runReportText(runItems(), lastRun_, destDir_, *offloadNotices_);
}

bool UploadManager::queueFollowUps()
{
    // Its notices belong to the run that just ended, like those of that run's intakes: the run's
    // report picks its notices by run number, one number per notice.
    std::vector<QString> notices;
    std::vector<ItemPtr> queued = histories_->advance(serviceOrigin(), account_, notices);
    offloadNotices_->add(notices, lastRun_ ? lastRun_->number : 0);
    if (queued.empty())
        return false;
    appendItems(std::move(queued));
    if (account_)
        saveOwners();
    persistNow();
    return true;
}

void UploadManager::transfersEnded()
{
    if (lastRun_)
        lastRun_->ended = QDateTime::currentDateTime();
}

void UploadManager::runFinished()
{
    setIsRunning(false);
    setSpeed(0);
    if (std::exchange(resumeWhenIdle_, false))
        resumePaused();
    else if (queue().firstQueued())
        start();   // queued while the stopped run wound down: a row's "Reanudar", a retry
}

}  // namespace zafrel
