#pragma once
#include "engine/queue/leftover_uploads.h"
#include "engine/queue/upload_queue.h"
#include "engine/run/engine_limits.h"
#include "engine/run/run_record.h"
#include "engine/run/run_sink.h"
#include "engine/run/speed_meter.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <QCoro/QCoroTask>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zafrel {

class DestinationHistories;
class HttpTransport;
struct IntakeProblem;
struct IntakeScan;
class OffloadNotices;
struct QueueOwner;
struct RunResources;
class UploadRun;
struct User;
class ZafrelAPI;

// The upload engine: owns the queue (UploadQueue), runs it (UploadRun) and offers the controls of
// the window and the headless run. Lives on the main thread; every member is touched only there.
// The intake, the accounts, the destination histories and the reports are units of their own that
// it calls; each file's transfer is a job of its own (transfer_job.h) that sees only its
// TransferContext.
class UploadManager : public QObject, private RunSink {
    Q_OBJECT
public:
    // Creates the upload session (over `uploadTransport` when given, else libcurl), takes "destDir"
    // from the user defaults (writing it straight back) and ends by restoring the queue file.
    // Never starts a run by itself. Without `api`, the service's shared client.
    UploadManager();
    explicit UploadManager(ZafrelAPI& api, EngineLimits limits = {});
    UploadManager(ZafrelAPI& api, EngineLimits limits, std::unique_ptr<HttpTransport> uploadTransport);
    // Stops a run in progress and writes any queue change not yet on disk, without waiting: the
    // run winds down on its own afterwards (its requests end on the stop), holding what it uses
    // (RunResources), and records nothing more in the queue file.
    ~UploadManager() override;

    // Observable state: every assignment emits its signal, also when the value stays the same.
    // The list's changes are told as what they are (items appended, removed, or a new list), each
    // followed by itemsChanged(); the items' own changes come in batches as itemsUpdated().
    const std::vector<ItemPtr>& items() const;
    // Hands over the item changes gathered so far at once, instead of on the next turn.
    void deliverItemChanges();
    bool isRunning() const { return isRunning_; }
    // Bytes per second over the last seconds; it falls to zero while nothing moves.
    double speed() const { return std::min(speed_, meter_.rateAt()); }
    // Nothing until a run has measured the route.
    std::optional<RouteDecision> route() const { return route_; }
    // Destination folder for new items: empty for the top folder, otherwise ending with "/".
    // Every assignment is also stored in the user defaults under "destDir".
    QString destDir() const { return destDir_; }
    void setDestDir(QString destDir);

    // Who is signed in (the window's session, the command line's sign-in). From now on the list,
    // the runs, the controls and the report hold only the files queued under this account (the
    // files of an older version, queued under nobody yet, become its own); the files of other
    // accounts wait aside as they were, a run still sending them paused first. Another account
    // than the last one gets the destination it chose last, or the top folder.
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

    // Intake: queues every regular file of `urls` (files and folders) and starts the queue;
    // answers what it could not take.
    std::vector<IntakeProblem> add(const QList<QUrl>& urls, const QString& bucket);
    // The same for a scan already made (scanForIntake with destDir() as destination), so that the
    // command line walks its paths once for resumeMatching and the intake.
    std::vector<IntakeProblem> add(const IntakeScan& scan, const QString& bucket);
    // Before add(scan) on the command line: queues again the paused and failed items that the scan
    // would queue now, as retry() does, so that the same command continues its own leftovers.
    void resumeMatching(const IntakeScan& scan);

    // Whether a dropped folder without an ASC MHL history gets one at the destination (a first
    // hash list with the MD5 of its files, and their xxh64 with `withXxh64`), for the intakes from
    // now on. Managed folders always have theirs extended (DestinationHistories).
    void setStartHistories(bool start, bool withXxh64 = false);
    bool startsHistories() const;

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
    using Forgotten = ForgottenLeftovers;
    QCoro::Task<Forgotten> forgetLeftovers();

    // Stops taking files: the running ones (once their requests have let go) and everything queued
    // end paused, to be continued like any paused item. `cause` says why when it was not the
    // user's choice; it stays until the next run starts.
    void pauseAll(std::optional<PauseCause> cause = std::nullopt);
    const std::optional<PauseCause>& pauseCause() const { return pauseCause_; }

    // The queue on disk (QueueStore): written whole at once, with the records of what this program
    // verified. restore() replaces the queue with the one on disk, when there is a usable one.
    void persistNow();
    void restore();

    Summary summary() const;
    // The text report of the whole list, as the command line prints it.
    QString report() const;

    // The run under way, or the last one; none before the first start().
    const std::optional<RunRecord>& lastRun() const { return lastRun_; }
    // The items of that run in queue order: those it took up, those queued while it went on, and
    // how each ended (paused and cancelled included); not the rows of earlier runs still in the
    // list. Before any run, the whole list.
    std::vector<ItemPtr> runItems() const;
    // The window's report of that run, saved with it and shown in its sheet (runReportText).
    QString runReport() const;

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
    // What tests set and read that the program itself does not.
    friend struct ManagerTestAccess;

    UploadQueue& queue() const;
    void setItems(std::vector<ItemPtr> items);
    void appendItems(std::vector<ItemPtr> items);
    void setIsRunning(bool running);
    void setSpeed(double speed);
    void setRoute(RouteDecision route);
    // The service origin that, with an item's destDir and name, identifies its destination.
    QString serviceOrigin() const;
    QString queuePath() const;
    void saveOwners();
    void recordSent(qint64 n);
    // A file queued while a run sends files and has not been told to stop belongs to that run; one
    // queued otherwise joins the next run when it starts.
    bool runTakesNewFiles() const;
    // The run a file queued now belongs to, if the run under way takes it.
    std::optional<uint64_t> runJoined() const;
    // Queues an item again (retry, resumePaused, a command-line run naming it again). An open
    // multipart upload stays for the transfer, which continues it or discards it; otherwise the
    // item starts from the beginning with the file as it is now.
    void queueAgain(const ItemPtr& item);

    // What the runs tell (RunSink).
    void routeDecided(const RouteDecision& route) override { setRoute(route); }
    void bytesSent(qint64 bytes) override { recordSent(bytes); }
    void pauseRun(PauseCause cause) override { pauseAll(cause); }
    bool queueFollowUps() override;
    void transfersEnded() override;
    void runFinished() override;

    ZafrelAPI& api_;
    // The bucket the last intake was for; the route probe measures its hosts.
    QString bucket_;
    // The current or last run; cancelAll stops it. Absent until the first start().
    std::shared_ptr<UploadRun> run_;
    SpeedMeter meter_;
    std::shared_ptr<const QueueOwner> account_;
    const std::unique_ptr<OffloadNotices> offloadNotices_;
    const std::unique_ptr<DestinationHistories> histories_;
    bool isRunning_ = false;
    std::optional<PauseCause> pauseCause_;
    std::optional<RunRecord> lastRun_;
    // "Continuar pendientes" while a paused run still winds down: done once it has.
    bool resumeWhenIdle_ = false;
    double speed_ = 0;
    std::optional<RouteDecision> route_;
    QString destDir_;
    int64_t sendRate_ = 0;
    bool replaceOtherFiles_ = false;
    std::shared_ptr<RunResources> resources_;
    // The runs' way to this manager, cleared when it goes.
    const std::shared_ptr<RunSinkLink> sinkLink_ = std::make_shared<RunSinkLink>(RunSinkLink{this});
};

}  // namespace zafrel
