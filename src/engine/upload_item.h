#pragma once
#include "engine/offload_history.h"

#include <QDateTime>
#include <QString>
#include <QStringView>
#include <QUuid>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zafrel {

class ItemChanges;

// The state word that the queue, the rows, the queue file and the report all read.
enum class Status { Queued, Running, Done, Skipped, Error, Cancelled, Paused };

// The persisted word of a state: "queued", "running", "done", "skipped", "error", "cancelled", "paused".
QString statusWord(Status status);
// The state of a persisted word; an unknown word (any other spelling included) gives nullopt.
std::optional<Status> statusFromWord(QStringView word);
// The same words as plain ASCII text, for the queue file's own writer and reader.
std::string_view statusText(Status status);
std::optional<Status> statusFromText(std::string_view text);

// A failed request of the item waiting before its next attempt: attempt `next` of `of` starts at `at`.
struct RetryWait {
    int next = 0;
    int of = 0;
    std::chrono::steady_clock::time_point at;
};

// One local file in the upload queue. The queue, its running transfer and its row share the same
// object; it lives on the main thread only. Not a QObject: a large card makes a hundred thousand,
// and its watchers hear of its changes through the queue's ItemChanges.
class UploadItem {
public:
    // A fresh item: queued, nothing loaded, no error, not verified, no key, no multipart upload.
    UploadItem(QUuid id, QString path, qint64 size, double mtime, QString destDir);

    const QUuid id;
    const QString path;   // absolute
    const QString name;   // last component of path; also the object's name at the destination
    const QString destDir;
    // The file as it was when the item last started from the beginning (intake, a retry, a run
    // that queues it again): the upload is planned for, and checked against, these two.
    qint64 size;
    double mtime;   // seconds since 1970-01-01 00:00 UTC

    // The observable fields: every assignment tells the queue's ItemChanges, also when the value
    // stays the same, because rows redraw from the notice rather than from a comparison.
    Status status() const { return status_; }
    void setStatus(Status status);
    // Changes whenever an item of the program becomes queued again: a scheduler that remembers
    // where the first queued item was must then look from the start (scheduler.cpp).
    static uint64_t queuedGeneration();
    qint64 loaded() const { return loaded_; }
    void setLoaded(qint64 loaded);
    const std::optional<QString>& error() const { return error_; }
    void setError(std::optional<QString> error);
    bool verified() const { return verified_; }
    void setVerified(bool verified);
    // Set while a failed object-store request waits to be tried again; absent otherwise.
    const std::optional<RetryWait>& retryWait() const { return retryWait_; }
    void setRetryWait(std::optional<RetryWait> wait);

    // Queued or running: waiting for or holding a transfer in the current run.
    bool isActive() const { return status_ == Status::Queued || status_ == Status::Running; }
    // Bytes of the file held by the stored parts: their count times the part size, at most the
    // size. Computed wide: an edited queue file may hold a part size whose product overflows.
    qint64 storedBytes() const;
    // Path, U+2192 and destination folder: equal keys mean the same file to the same place.
    QString queueKey() const { return queueKey(path, destDir); }
    static QString queueKey(const QString& path, const QString& destDir);

    // The named changes of the transfer state, so that what belongs together changes together.
    // From the beginning with the file as it is now: nothing stored, nothing loaded.
    void startAnew(qint64 newSize, double newMtime);
    // Takes the open multipart upload and its stored parts off the item, answering what the
    // service must be told to abort (nothing when there was none, or no key to name it).
    struct OpenUpload {
        std::string key;
        std::string uploadId;
    };
    std::optional<OpenUpload> forgetUpload();
    // A new multipart upload, none of its parts stored yet.
    void beginUpload(QString objectKey, QString id, qint64 newPartSize);
    // Done or skipped: all of the file accounted for, at this moment.
    void finish(Status outcome);

    // Plain fields, changed without notification.
    std::optional<QString> key;
    std::optional<QString> uploadId;
    qint64 partSize = 0;
    std::map<int64_t, QString> etags;
    std::optional<QDateTime> started;
    std::optional<QDateTime> finished;
    // The transport's technical wording behind `error` (empty when there is none), for the report
    // and the row's tooltip. Not kept in the queue file.
    QString errorDetail;
    QString contentType = QStringLiteral("application/octet-stream");
    // What the offload's history recorded for the file, when it did (not kept in the queue file:
    // each intake reads the history afresh); whether the bytes sent in the last transfer matched
    // it; and the MD5 of the whole file as read for that transfer (hex, empty when not known).
    std::optional<OffloadRecord> offloadRecord;
    bool offloadChecked = false;
    std::string md5;

    // Where the item's changes are gathered for the queue's watchers: the queue it is in. Held
    // weakly: a transfer may still hold the item after its queue has gone.
    void reportTo(std::weak_ptr<ItemChanges> changes) { changes_ = std::move(changes); }

private:
    void notify();

    std::weak_ptr<ItemChanges> changes_;
    Status status_ = Status::Queued;
    qint64 loaded_ = 0;
    std::optional<QString> error_;
    bool verified_ = false;
    std::optional<RetryWait> retryWait_;
};

using ItemPtr = std::shared_ptr<UploadItem>;

}  // namespace zafrel
