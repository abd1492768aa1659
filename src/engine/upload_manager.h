#pragma once
#include "client/zafrel_api.h"
#include "engine/async_semaphore.h"
#include "engine/engine_limits.h"
#include "engine/listing_cache.h"
#include "engine/part_buffer_pool.h"
#include "engine/queue_store.h"
#include "engine/speed_meter.h"
#include "engine/suspect_destinations.h"
#include "engine/upload_item.h"
#include "platform/async.h"
#include "platform/async_latch.h"
#include "platform/http.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <QCoro/QCoroTask>

#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace zafrel {

// Counts over the queue for the window, the headless run and the report's totals.
struct Summary {
    int done = 0;        // items done
    qint64 bytes = 0;    // sum of the sizes of the done items (skipped ones not included)
    int skipped = 0;
    int errors = 0;
    int active = 0;      // queued or running (paused items are not counted)
    int cancelled = 0;
    int paused = 0;
};

// A path handed to add() that it could not take, or a folder met in a walk that could not be read.
struct IntakeProblem {
    enum class Kind { Missing, Unreadable, NotFileOrFolder };
    QString path;
    Kind kind;
    // One line for the person: "No existe: RUTA", "No se puede leer: RUTA" or "No es un archivo ni
    // una carpeta: RUTA", the path made printable.
    QString text() const;
    bool operator==(const IntakeProblem&) const = default;
};

// Why a run stopped taking files before its queue was done: the service or the store stayed out of
// reach through every retry, or the service ended the session (401). Neither is the fault of the
// files, so they end paused, to be continued, not failed one by one.
enum class PauseCause { NoConnection, SessionEnded };

// The line the footer and the command line show: "Sin conexión con el servidor", "Sesión caducada.
// Vuelve a entrar."
QString pauseMessage(PauseCause cause);

// The cause that a transfer's failure gives the whole run, or nothing for a failure of its own file.
std::optional<PauseCause> pauseCauseOf(const std::exception_ptr& failure);

// The upload engine: owns the queue, runs it and offers the controls of the window and the
// headless run. Lives on the main thread; every member is touched only there. Its operations are
// spread over intake.cpp, scheduler.cpp, the transfer sources and report.cpp.
class UploadManager : public QObject {
    Q_OBJECT
public:
    // Creates the upload session (over `uploadTransport` when given, else libcurl), takes "destDir"
    // from the user defaults (writing it straight back) and ends by restoring the queue file.
    // Never starts a run by itself.
    explicit UploadManager(ZafrelAPI& api = ZafrelAPI::shared(), EngineLimits limits = {},
                           std::unique_ptr<HttpTransport> uploadTransport = nullptr);
    // Stops a run in progress (its items end paused), waits for its transfers to let go of this
    // object, and writes any queue change not yet on disk.
    ~UploadManager() override;

    // Observable state: every assignment emits its signal, also when the value stays the same.
    const std::vector<ItemPtr>& items() const { return items_; }
    void setItems(std::vector<ItemPtr> items);
    bool isRunning() const { return isRunning_; }
    void setIsRunning(bool running);
    double speed() const { return speed_; }
    void setSpeed(double speed);
    QString route() const { return route_; }
    void setRoute(QString route);
    // Destination folder for new items: empty for the top folder, otherwise ending with "/".
    // Every assignment is also stored in the user defaults under "destDir".
    QString destDir() const { return destDir_; }
    void setDestDir(QString destDir);

    // Cap on the bytes per second of all object-store transfers together, whatever the number of
    // connections (0: none). Applies at once, also to transfers under way. The engine does not
    // store it: the window remembers its own setting, the command line takes "--limite".
    int64_t sendRate() const { return sendRate_; }
    void setSendRate(int64_t bytesPerSecond);

    const EngineLimits limits;

    // Fields shared with the transfer code.
    ZafrelAPI& api;
    std::optional<bool> accelerate;   // decided once per manager by probeRoute
    QString bucket;                   // stored by every intake, used by the route probe
    // What the destination folders hold, for the current run only.
    ListingCache listings{api};
    // The current or last run; cancelAll requests stop on it. Absent until the first start().
    std::optional<std::stop_source> runTask;
    SpeedMeter meter;
    // Multipart part bodies, within the part permits' budget of partsParallel × minPart bytes;
    // emptied when a run ends (scheduler.cpp).
    PartBufferPool partBuffers{int64_t(limits.partsParallel) * limits.minPart};
    // Destinations whose object failed verification: never taken as already there.
    SuspectDestinations suspects;
    // The service origin that, with an item's destDir and name, identifies its destination.
    QString serviceOrigin() const;
    // All object-store traffic: no cookies, 16 connections per host, 3600 s per transfer.
    HttpSession& uploadSession();

    // Intake: queues every regular file of `urls` (files and folders) and starts the queue;
    // answers what it could not take (intake.cpp).
    std::vector<IntakeProblem> add(const QList<QUrl>& urls, const QString& bucket);
    // Before add(urls) on the command line: queues again the paused and failed items that
    // add(urls) would queue now, as retry() does (resume_matching.cpp).
    void resumeMatching(const QList<QUrl>& urls);

    // Scheduler and controls.
    void start();
    void cancel(const ItemPtr& item);
    void cancelAll();
    // Both keep an open multipart upload's verified parts; an item without one starts from the
    // beginning with the file as it is now.
    void retry(const ItemPtr& item);
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

    // Transfers, on the main thread; `stop` is the run's or the part group's token.
    QCoro::Task<void> upload(ItemPtr it, AsyncSemaphore& sem, std::stop_token stop);   // never throws
    QCoro::Task<bool> alreadyThere(ItemPtr it, std::stop_token stop);
    // Holds one of `sem`'s permits while the file's body is in memory.
    QCoro::Task<void> uploadSingle(ItemPtr it, AsyncSemaphore& sem, std::stop_token stop);
    QCoro::Task<void> uploadMultipart(ItemPtr it, AsyncSemaphore& sem, std::stop_token stop);
    // The service's answer to the upload start of a single-request file.
    QCoro::Task<UploadInit> askSingleStart(ItemPtr it, std::stop_token stop);
    // One attempt: answers the "ETag" header as received, or empty text.
    QCoro::Task<std::string> put(std::string url, QByteArray data, std::string contentType, ItemPtr it,
                                 std::optional<qint64> base, std::stop_token stop);
    // A pre-signed URL and the Content-Type it was signed for (empty for parts).
    struct PutTarget {
        std::string url;
        std::string contentType;
    };
    // Asks the service for a fresh target for the same body, when the store refused the old one.
    using RenewTarget = std::function<QCoro::Task<PutTarget>()>;
    // Up to five attempts, waiting 1, 3, 6 and 12 s between them. After a 403 (a pre-signed URL
    // that expired while the body waited) the next attempt goes to a target from `renew`.
    QCoro::Task<std::string> putWithRetries(std::string url, QByteArray data, std::string contentType, ItemPtr it,
                                            std::optional<qint64> base, std::stop_token stop,
                                            RenewTarget renew = {});
    QCoro::Task<void> probeRoute(std::stop_token stop);   // never throws
    void recordSent(qint64 n);

    // The queue on disk, kept by store_ (see QueueStore). restore() replaces the queue with the one
    // on disk, when there is a usable one.
    void persist(const ItemPtr& it) { store_.persist(*it); }
    void persistPart(const ItemPtr& it, int64_t part) { store_.persistPart(*it, part); }
    void flushPersisted() { store_.flushPersisted(); }
    void persistNow() { store_.persistNow(); }
    void restore();
    // Path of queue.json, and of the journal beside it.
    QString stateURL() const { return store_.queuePath(); }
    QString journalURL() const { return store_.journalPath(); }

    Summary summary() const;
    QString report() const;

signals:
    void itemsChanged();
    void isRunningChanged();
    void speedChanged();
    void routeChanged();
    void destDirChanged();
    void pauseCauseChanged();

private:
    // Queues an item again (retry, resumePaused, a command-line run naming it again). An open
    // multipart upload stays for the transfer, which continues it or discards it; otherwise the
    // item starts from the beginning with the file as it is now.
    void queueAgain(const ItemPtr& item);
    // Before an open multipart upload is continued: one that cannot be continued (its file changed
    // since its parts were sent, its plan is unusable) is discarded, and the item starts from the
    // beginning with the file as it is now.
    QCoro::Task<void> reviewOpenUpload(ItemPtr it);
    // Aborts the item's multipart upload at the service and forgets it on the item, so that no
    // part is left stored (and billed) for an upload nothing will complete. The first form waits
    // for the service; the second returns at once.
    QCoro::Task<void> discardUpload(ItemPtr it);
    void discardUploadLater(const ItemPtr& item);
    void abortLater(std::string key, std::string uploadId);
    static QCoro::Task<void> abortUpload(QPointer<UploadManager> self, ZafrelAPI& api, std::string key,
                                         std::string uploadId);
    static QCoro::Task<void> runAndWindDown(QPointer<UploadManager> self, ZafrelAPI& api, std::stop_token stop);
    QCoro::Task<void> runQueue(std::stop_token stop);
    // upload(), keeping the counts of files in flight (`running`, and `largeRunning` for a file
    // above singlePutMax) up to date however it ends.
    QCoro::Task<void> uploadCounted(ItemPtr it, bool large, int& running, int& largeRunning, AsyncSemaphore& sem,
                                    std::stop_token stop);
    // The first queued item in queue order, or null. Looks on from where the last pick found one,
    // and from the start after the list changed or an item was queued again.
    ItemPtr firstQueued();

    // Upload starts made before a small file's turn (upload_starts.cpp), so that its single request
    // goes out once it has a permit instead of waiting one more round trip.
    struct StartAhead {
        std::weak_ptr<UploadItem> item;
        qint64 size = 0;   // the size it was asked for
        UploadInit init;   // once done has finished without error
        AsyncLatch done;
    };
    // Adds to `group` the starts of the next few queued small files after the last one picked,
    // for those whose folder listing says they are to be sent.
    void startAheadOfTurn(TaskGroup<void>& group);
    QCoro::Task<void> makeStartAhead(ItemPtr it, std::shared_ptr<StartAhead> start, std::stop_token stop);
    // The target of the start made ahead for the item, setting its key, waiting for the start when
    // it is still under way; nothing when none was made or it was made for another size. Fails
    // with the start's error.
    QCoro::Task<std::optional<PutTarget>> takeStartAhead(ItemPtr it);

    std::vector<ItemPtr> items_;
    bool isRunning_ = false;
    std::optional<PauseCause> pauseCause_;
    // "Continuar pendientes" while a paused run still winds down: done once it has.
    bool resumeWhenIdle_ = false;
    double speed_ = 0;
    QString route_;
    QString destDir_;
    int64_t sendRate_ = 0;
    std::unique_ptr<HttpSession> uploadSession_;
    // True while the run or its transfers may still touch this object.
    bool runBusy_ = false;
    // Aborts sent without waiting (discardUploadLater) that have not answered yet.
    int pendingAborts_ = 0;
    // Where firstQueued() looks on from, valid while no item was queued again since.
    size_t pickFrom_ = 0;
    uint64_t pickGeneration_ = 0;
    // Upload starts made ahead during the current run, by item.
    std::map<QUuid, std::shared_ptr<StartAhead>> startsAhead_;
    QueueStore store_;
};

}  // namespace zafrel
