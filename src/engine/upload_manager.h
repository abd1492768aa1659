#pragma once
#include "client/zafrel_api.h"
#include "engine/transfer/async_semaphore.h"
#include "engine/destination/destination_history.h"
#include "engine/run/engine_limits.h"
#include "engine/intake/intake_scan.h"
#include "engine/queue/item_changes.h"
#include "engine/run/pause_cause.h"
#include "engine/queue/queue_owners.h"
#include "engine/queue/queue_store.h"
#include "engine/queue/upload_queue.h"
#include "engine/run/route_probe.h"
#include "engine/run/run_record.h"
#include "engine/run/run_resources.h"
#include "engine/run/run_sink.h"
#include "engine/run/speed_meter.h"
#include "engine/transfer/transfer_context.h"
#include "engine/queue/upload_item.h"
#include "platform/async.h"
#include "platform/http.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <QCoro/QCoroTask>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace zafrel {

class UploadRun;

// The upload engine: owns the queue, runs it and offers the controls of the window and the
// headless run. Lives on the main thread; every member is touched only there. Each run is an
// UploadRun of its own that tells the manager what it needs to hear through RunSink; each file's
// transfer is a job of its own (transfer_job.h) that sees only its TransferContext.
class UploadManager : public QObject, private RunSink {
    Q_OBJECT
public:
    // Creates the upload session (over `uploadTransport` when given, else libcurl), takes "destDir"
    // from the user defaults (writing it straight back) and ends by restoring the queue file.
    // Never starts a run by itself.
    explicit UploadManager(ZafrelAPI& api = ZafrelAPI::shared(), EngineLimits limits = {},
                           std::unique_ptr<HttpTransport> uploadTransport = nullptr);
    // Stops a run in progress and writes any queue change not yet on disk, without waiting: the
    // run winds down on its own afterwards (its requests end on the stop), holding what it uses
    // (RunResources), and records nothing more in the queue file.
    ~UploadManager() override;

    // Observable state: every assignment emits its signal, also when the value stays the same.
    // The list's changes are told as what they are (items appended, removed, or a new list), each
    // followed by itemsChanged(); the items' own changes come in batches as itemsUpdated().
    const std::vector<ItemPtr>& items() const { return queue().items(); }
    void setItems(std::vector<ItemPtr> items);
    void appendItems(std::vector<ItemPtr> items);
    // Hands over the item changes gathered so far at once, instead of on the next turn.
    void deliverItemChanges() { queue().changes().deliver(); }
    bool isRunning() const { return isRunning_; }
    void setIsRunning(bool running);
    // Bytes per second over the last seconds; it falls to zero while nothing moves.
    double speed() const { return std::min(speed_, meter_.rateAt()); }
    void setSpeed(double speed);
    QString route() const { return route_; }
    void setRoute(QString route);
    // Destination folder for new items: empty for the top folder, otherwise ending with "/".
    // Every assignment is also stored in the user defaults under "destDir".
    QString destDir() const { return destDir_; }
    void setDestDir(QString destDir);

    // Who is signed in (the window's session, the command line's sign-in). From now on the list,
    // the runs, the controls and the report hold only the files queued under this account (the
    // files of an older version, queued under nobody yet, become its own); the files of other
    // accounts wait aside as they were, a run still sending them paused first. Another account
    // than the last one gets the destination it chose last, or the top folder (accounts.cpp).
    void setAccount(const User& user);
    // The account set last; none yet: then the whole queue is in items(), as "--pendientes" lists it.
    const std::shared_ptr<const QueueOwner>& account() const { return account_; }
    // Files of other accounts that wait aside for their account to sign in again.
    int otherAccountsWaiting() const;

    // Cap on the bytes per second of all object-store transfers together, whatever the number of
    // connections (0: none). Applies at once, also to transfers under way. The engine does not
    // store it: the window remembers its own setting, the command line takes "--limite".
    int64_t sendRate() const { return sendRate_; }
    void setSendRate(int64_t bytesPerSecond);

    const EngineLimits limits;

    // The bucket the last intake was for; the route probe measures its hosts.
    const QString& bucket() const { return bucket_; }
    // The route of this manager's uploads, decided by the first run that measured it.
    RouteProbe& routeProbe() { return resources_->probe; }
    // What a transfer of this manager uses: its sessions, caches and queue file. Valid while the
    // manager lives; a run makes its own.
    TransferContext transferContext();

    // Intake: queues every regular file of `urls` (files and folders) and starts the queue;
    // answers what it could not take (intake.cpp).
    std::vector<IntakeProblem> add(const QList<QUrl>& urls, const QString& bucket);
    // The same for a scan already made (scanForIntake with destDir() as destination), so that the
    // command line walks its paths once for resumeMatching and the intake.
    std::vector<IntakeProblem> add(const IntakeScan& scan, const QString& bucket);
    // Before add(scan) on the command line: queues again the paused and failed items that the scan
    // would queue now, as retry() does (intake.cpp).
    void resumeMatching(const IntakeScan& scan);

    // Whether a dropped folder without an ASC MHL history gets one at the destination (a first
    // hash list with the MD5 of its files, and their xxh64 with `withXxh64`), for the intakes from
    // now on. Managed folders always have theirs extended (destination_histories.cpp).
    void setStartHistories(bool start, bool withXxh64 = false);
    bool startsHistories() const { return startHistories_; }

    // Scheduler and controls.
    void start();
    void cancel(const ItemPtr& item);
    void cancelAll();
    // Stops one file without giving anything up: a queued one waits paused, a running one ends
    // paused once its requests have let go, its verified parts and open upload kept; the rest of
    // the run goes on. retry() continues it.
    void pause(const ItemPtr& item);
    // Both keep an open multipart upload's verified parts; an item without one starts from the
    // beginning with the file as it is now.
    void retry(const ItemPtr& item);
    // retry() of a file refused because another file holds its name at the destination, allowed now
    // to replace that file.
    void replace(const ItemPtr& item);
    // Every file of the runs from now on may replace another file that holds its name at the
    // destination (the command line's "--reemplazar"); by default none may unless allowed one by one.
    void setReplaceOtherFiles(bool allowed) { replaceOtherFiles_ = allowed; }
    void resumePaused();
    void clearFinished();
    // Takes the paused and failed items out of the queue for good: each open multipart upload is
    // aborted at the service first (waiting for it), then the queue file is written. An item whose
    // abort fails stays, so that its parts are not left stored with nothing to name them. Not
    // while a run goes on.
    struct Forgotten {
        int items = 0;            // taken out of the queue
        int abortedUploads = 0;   // of them, with an open upload the service aborted
        int kept = 0;             // left in the queue: the service did not abort their upload
        QString failure;          // the message of the last failed abort
    };
    QCoro::Task<Forgotten> forgetLeftovers();

    // Stops taking files: the running ones (once their requests have let go) and everything queued
    // end paused, to be continued like any paused item. `cause` says why when it was not the
    // user's choice; it stays until the next run starts (run_pause.cpp).
    void pauseAll(std::optional<PauseCause> cause = std::nullopt);
    const std::optional<PauseCause>& pauseCause() const { return pauseCause_; }

    // The queue on disk, kept by store_ (see QueueStore). restore() replaces the queue with the one
    // on disk, when there is a usable one.
    void persist(const ItemPtr& it) { resources_->store.persist(*it); }
    void persistPart(const ItemPtr& it, int64_t part) { resources_->store.persistPart(*it, part); }
    void persistNow()
    {
        resources_->store.persistNow();
        resources_->records.flush();
    }
    void restore();
    // Path of queue.json, and of the journal beside it.
    QString stateURL() const { return resources_->store.queuePath(); }
    QString journalURL() const { return resources_->store.journalPath(); }

    Summary summary() const;
    // The text report of the whole list, as the command line prints it.
    QString report() const;

    // The run under way, or the last one; none before the first start() (run_report.cpp).
    const std::optional<RunRecord>& lastRun() const { return lastRun_; }
    // The items of that run in queue order: those it took up, those queued while it went on, and
    // how each ended (paused and cancelled included); not the rows of earlier runs still in the
    // list. Before any run, the whole list.
    std::vector<ItemPtr> runItems() const;
    // The window's report of that run, saved with it and shown in its sheet: local times with
    // their zone, duration, average speed, every outcome counted, then one line per file (state,
    // size, destination, MD5, source path), errors first, and the MD5s of the files done in
    // md5sum's format ("<hex>  <destination>"), so that a copy of the destination folder can be
    // checked with `md5sum -c`.
    QString runReport() const;
    // What the offloads' histories of the files taken said that stops nothing (a recorded file
    // that is not there, a file there without a record), in the order met; the report lists them.
    const std::vector<QString>& offloadNotices() const { return offloadNotices_; }

signals:
    void itemsChanged();
    void itemsReset();
    void itemsAppended(int first, int count);
    void itemsRemoved(const QList<QUuid>& ids);
    void itemsUpdated(const QList<QUuid>& ids);
    void isRunningChanged();
    void speedChanged();
    void routeChanged();
    void destDirChanged();
    void pauseCauseChanged();
    // setAccount() was given another account than before.
    void accountChanged();

private:
    UploadQueue& queue() const { return resources_->queue; }
    // Leaves in the queue only `kept` (UploadQueue::keepOnly).
    void keepOnly(std::vector<ItemPtr> kept) { queue().keepOnly(std::move(kept)); }
    // Puts aside the items of other accounts than account_, or takes them back (accounts.cpp).
    void separateAccounts();
    // The side file beside the queue file that says whose each queued item is, and its writing.
    QString ownersPath() const;
    void saveOwners();
    // The service origin that, with an item's destDir and name, identifies its destination.
    QString serviceOrigin() const;
    void recordSent(qint64 n);
    // A file queued while a run sends files and has not been told to stop belongs to that run; one
    // queued otherwise joins the next run when it starts.
    bool runTakesNewFiles() const;
    void joinRun(UploadItem& item) const;
    // Queues an item again (retry, resumePaused, a command-line run naming it again). An open
    // multipart upload stays for the transfer, which continues it or discards it; otherwise the
    // item starts from the beginning with the file as it is now.
    void queueAgain(const ItemPtr& item);
    // Forgets the item's open multipart upload at once and aborts it at the service without
    // waiting, so that no part is left stored (and billed) for an upload nothing will complete.
    void discardUploadLater(const ItemPtr& item);
    // The folders of the scan whose history goes on at the destination, with their items (the
    // new ones and those already waiting).
    void takeHistories(const IntakeScan& scan, const std::vector<ItemPtr>& fresh);
    // At the end of a run: for each folder whose files are all up, queues the next step of its
    // history at the destination (the new hash list, then the chain), or records it as written.
    // True when it queued files.
    bool advanceHistories();
    ItemPtr historyFileItem(const QString& path, const QString& destDir);

    // What the runs tell (RunSink).
    void routeDecided(const QString& route) override { setRoute(route); }
    void bytesSent(qint64 bytes) override { recordSent(bytes); }
    void pauseRun(PauseCause cause) override { pauseAll(cause); }
    bool queueFollowUps() override { return advanceHistories(); }
    void transfersEnded() override;
    void runFinished() override;

    ZafrelAPI& api_;
    QString bucket_;
    // The current or last run; cancelAll stops it. Absent until the first start().
    std::shared_ptr<UploadRun> run_;
    SpeedMeter meter_;
    std::shared_ptr<const QueueOwner> account_;
    std::vector<QString> offloadNotices_;
    // The run each notice's intake went to, by position.
    std::vector<uint64_t> offloadNoticeRuns_;
    std::vector<std::shared_ptr<DestinationHistory>> histories_;
    DestinationHistoryRecord historyRecord_;
    bool startHistories_ = false;
    bool historyXxh64_ = false;
    bool isRunning_ = false;
    std::optional<PauseCause> pauseCause_;
    std::optional<RunRecord> lastRun_;
    // "Continuar pendientes" while a paused run still winds down: done once it has.
    bool resumeWhenIdle_ = false;
    double speed_ = 0;
    QString route_;
    QString destDir_;
    int64_t sendRate_ = 0;
    bool replaceOtherFiles_ = false;
    std::shared_ptr<RunResources> resources_;
    // The runs' way to this manager, cleared when it goes.
    const std::shared_ptr<RunSinkLink> sinkLink_ = std::make_shared<RunSinkLink>(RunSinkLink{this});
};

}  // namespace zafrel
