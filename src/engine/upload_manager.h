#pragma once
#include "client/zafrel_api.h"
#include "engine/async_semaphore.h"
#include "engine/part_buffer_pool.h"
#include "engine/upload_item.h"
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

// The upload engine: owns the queue, runs it and offers the controls of the window and the
// headless run. Lives on the main thread; every member is touched only there. Its operations are
// spread over intake.cpp, scheduler.cpp, the transfer sources, persistence.cpp and report.cpp.
class UploadManager : public QObject {
    Q_OBJECT
public:
    // Creates the upload session, takes "destDir" from the user defaults (writing it straight
    // back) and ends by restoring the queue file. Never starts a run by itself.
    explicit UploadManager(ZafrelAPI& api = ZafrelAPI::shared(), QObject* parent = nullptr);
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

    // Settings, fixed at construction.
    const int filesParallel = 2;
    const int partsParallel = 8;
    const qint64 minPart = 33554432;
    const qint64 singlePutMax = 33554432;

    // Fields shared with the transfer code.
    ZafrelAPI& api;
    std::optional<bool> accelerate;   // decided once per manager by probeRoute
    QString bucket;                   // stored by every intake, used by the route probe
    QString stateURL;                 // path of queue.json
    // Destination folder -> (file name -> size), for the current run only.
    std::map<QString, std::map<QString, qint64>> listingCache;
    // The current or last run; cancelAll requests stop on it. Absent until the first start().
    std::optional<std::stop_source> runTask;
    // Speed meter: (time, totalSent just after the sample) pairs of the last seconds, oldest first.
    std::deque<std::pair<std::chrono::steady_clock::time_point, qint64>> samples;
    qint64 totalSent = 0;
    // Multipart part bodies, one per part permit at most; emptied when a run ends (scheduler.cpp).
    PartBufferPool partBuffers{partsParallel};
    // All object-store traffic: no cookies, 16 connections per host, 3600 s per transfer.
    HttpSession& uploadSession();

    // Intake: queues every regular file of `urls` (files and folders) and starts the queue.
    void add(const QList<QUrl>& urls, const QString& bucket);
    // Before add(urls) on the command line: queues again the paused and failed items that
    // add(urls) would queue now, the paused ones keeping their stored parts (resume_matching.cpp).
    void resumeMatching(const QList<QUrl>& urls);

    // Scheduler and controls.
    void start();
    void cancel(const ItemPtr& item);
    void cancelAll();
    void retry(const ItemPtr& item);
    void resumePaused();
    void clearFinished();

    // Transfers, on the main thread; `stop` is the run's or the part group's token.
    QCoro::Task<void> upload(ItemPtr it, AsyncSemaphore& sem, std::stop_token stop);   // never throws
    QCoro::Task<bool> alreadyThere(ItemPtr it, std::stop_token stop);
    QCoro::Task<void> uploadSingle(ItemPtr it, std::stop_token stop);
    QCoro::Task<void> uploadMultipart(ItemPtr it, AsyncSemaphore& sem, std::stop_token stop);
    // One attempt: answers the "ETag" header as received, or empty text.
    QCoro::Task<std::string> put(std::string url, QByteArray data, std::string contentType, ItemPtr it,
                                 std::optional<qint64> base, std::stop_token stop);
    // Up to five attempts, waiting 1, 3, 6 and 12 s between them.
    QCoro::Task<std::string> putWithRetries(std::string url, QByteArray data, std::string contentType, ItemPtr it,
                                            std::optional<qint64> base, std::stop_token stop);
    QCoro::Task<void> probeRoute(std::stop_token stop);   // never throws
    void recordSent(qint64 n);

    // Queue file. persist() may put off writing progress of a large queue for up to a second
    // (see persistence.cpp); persistNow() writes at once. Neither raises nor reports.
    void persist();
    void persistNow();
    void restore();

    Summary summary() const;
    QString report() const;

signals:
    void itemsChanged();
    void isRunningChanged();
    void speedChanged();
    void routeChanged();
    void destDirChanged();

private:
    static QCoro::Task<void> runAndWindDown(QPointer<UploadManager> self, ZafrelAPI& api, std::stop_token stop);
    QCoro::Task<void> runQueue(std::stop_token stop);
    ItemPtr firstQueued() const;

    std::vector<ItemPtr> items_;
    bool isRunning_ = false;
    double speed_ = 0;
    QString route_;
    QString destDir_;
    std::unique_ptr<HttpSession> uploadSession_;
    // True while the run or its transfers may still touch this object.
    bool runBusy_ = false;
    // Coalesced writes of the queue file (see persistence.cpp).
    static constexpr int kPersistDelayMs = 1000;
    static constexpr size_t kImmediatePersistLimit = 2000;
    QTimer persistTimer_;
};

}  // namespace zafrel
