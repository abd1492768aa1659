#pragma once
#include "engine/destination/offload_history.h"

#include <QDateTime>
#include <QString>
#include <QStringView>
#include <QUuid>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace zafrel {

class ItemChanges;
struct QueueOwner;

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
// `part` names the part of a multipart upload (0 for a file sent in one request).
struct RetryWait {
    int next = 0;
    int of = 0;
    std::chrono::steady_clock::time_point at;
    int64_t part = 0;
};

// A request whose body is being sent again after a failed attempt: which part (0 for a file sent
// in one request) and which attempt of how many.
struct Resend {
    int64_t part = 0;
    int attempt = 0;
    int of = 0;
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
    // Bytes of the file held by the stored parts plus those the transport has handed to the
    // network in the current attempt of each request in flight, at most the size.
    qint64 loaded() const { return loaded_; }
    // Sets the count outright (a fresh start, an end, a restored upload); forgets every attempt.
    void setLoaded(qint64 loaded);

    // An attempt of the request for `part` (0: the whole file in one request) starts with nothing
    // sent; answers its token. Attempt numbers count from 1.
    uint64_t beginAttempt(int64_t part, int attempt, int of);
    // The transport's running count of the body sent by the attempt `token`; late counts of an
    // attempt that has ended change nothing.
    void attemptSent(int64_t part, uint64_t token, qint64 total);
    // A failed attempt: its bytes leave the count until the next attempt sends them again.
    void dropAttempt(int64_t part, uint64_t token);
    // The part is verified and stored: its bytes count as stored, no longer as in flight.
    void recordPart(int64_t part, QString etag);
    // The first request in flight that is a second or later attempt, if any.
    std::optional<Resend> resending() const;
    // While requests are in flight: when the last of their bytes went out (or the latest attempt
    // started); nothing otherwise.
    std::optional<std::chrono::steady_clock::time_point> quietSince() const;
    const std::optional<QString>& error() const { return error_; }
    void setError(std::optional<QString> error);
    // The transport's technical wording behind `error` (empty when there is none), for the report
    // and the row's tooltip. Not kept in the queue file.
    const QString& errorDetail() const { return errorDetail_; }
    // Failed for a reason of its own: the message a person reads, and the technical detail behind it.
    void fail(QString message, QString detail);
    // No error any more, nor its detail: the file is to be tried again.
    void clearError();
    bool verified() const { return verified_; }
    void setVerified(bool verified);
    // Set while a failed object-store request waits to be tried again; absent otherwise.
    const std::optional<RetryWait>& retryWait() const { return retryWait_; }
    void setRetryWait(std::optional<RetryWait> wait);

    // Queued or running: waiting for or holding a transfer in the current run.
    bool isActive() const { return status_ == Status::Queued || status_ == Status::Running; }
    // Bytes of the file held by the stored parts: each part's own length (the last one may be
    // shorter), at most the size. Computed wide: an edited queue file may hold a part size whose
    // product overflows.
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
    // The object's key at the store, as the service named it for a file sent in one request.
    void setKey(QString objectKey);
    // Forgets the stored parts that are not among the parts 1 to `total` of the upload's plan.
    void keepPartsUpTo(int64_t total);
    // The upload as the queue file kept it; any of it may be missing (an older version's file,
    // one edited by hand). What its parts hold counts as loaded.
    struct SavedUpload {
        std::optional<QString> key;
        std::optional<QString> uploadId;
        qint64 partSize = 0;
        std::map<int64_t, QString> etags;
    };
    void restoreFrom(SavedUpload saved);
    // Done or skipped: all of the file accounted for, at this moment.
    void finish(Status outcome);

    // The object's key at the store; the open multipart upload, its part size and the ETags of its
    // stored parts by part number. Changed only by the operations above, without notification.
    const std::optional<QString>& key() const { return key_; }
    const std::optional<QString>& uploadId() const { return uploadId_; }
    qint64 partSize() const { return partSize_; }
    const std::map<int64_t, QString>& etags() const { return etags_; }

    // Plain fields, changed without notification.
    // The run that took the item up last (UploadManager::lastRun()'s numbers, from 1); 0 for none
    // of this process. A file queued again joins the run that sends it.
    uint64_t run = 0;
    std::optional<QDateTime> finished;
    QString contentType = QStringLiteral("application/octet-stream");
    // While a transfer of the item is under way: stops that transfer alone (a row's "Pausar").
    std::optional<std::stop_source> transferStop;
    // The account the file was queued under (kept beside the queue file, queue_owners.h); none for
    // an item of an older version until someone signs in.
    std::shared_ptr<const QueueOwner> owner;
    // What the offload's history recorded for the file, when it did (not kept in the queue file:
    // each intake reads the history afresh); whether the bytes sent in the last transfer matched
    // it; and the MD5 of the whole file as read for that transfer (hex, empty when not known).
    std::optional<OffloadRecord> offloadRecord;
    bool offloadChecked = false;
    std::string md5;
    // A format that a history started at the destination records besides MD5 ("--mhl xxh64"),
    // and the digest in digestFormat() of what the last transfer read.
    std::optional<HashFormat> newRecordFormat;
    std::string recordDigest;
    // The format hashed while the file is read besides MD5: its offload record's, or the new one's.
    std::optional<HashFormat> digestFormat() const
    {
        return offloadRecord ? std::optional(offloadRecord->format) : newRecordFormat;
    }
    // The last transfer's outcome went into the record of its destination history.
    bool historyNoted = false;
    // The user allowed this file to replace another file that holds its name at the destination
    // (not kept in the queue file: asked again after a restart).
    bool replaceAllowed = false;

    // Where the item's changes are gathered for the queue's watchers: the queue it is in. Held
    // weakly: a transfer may still hold the item after its queue has gone.
    void reportTo(std::weak_ptr<ItemChanges> changes) { changes_ = std::move(changes); }

private:
    void notify();
    void countLoaded();

    struct Attempt {
        uint64_t token = 0;
        qint64 sent = 0;
        int number = 0;
        int of = 0;
    };
    std::map<int64_t, Attempt> inFlight_;
    std::chrono::steady_clock::time_point lastMoved_;

    std::weak_ptr<ItemChanges> changes_;
    Status status_ = Status::Queued;
    qint64 loaded_ = 0;
    std::optional<QString> error_;
    QString errorDetail_;
    std::optional<QString> key_;
    std::optional<QString> uploadId_;
    qint64 partSize_ = 0;
    std::map<int64_t, QString> etags_;
    bool verified_ = false;
    std::optional<RetryWait> retryWait_;
};

using ItemPtr = std::shared_ptr<UploadItem>;

}  // namespace zafrel
