#include "engine/queue/upload_item.h"

#include "engine/queue/item_changes.h"

#include <algorithm>
#include <array>
#include <utility>

namespace zafrel {

namespace {

struct StatusName {
    Status status;
    std::string_view word;
};

constexpr std::array<StatusName, 7> kStatusNames{{
    {Status::Queued, "queued"},
    {Status::Running, "running"},
    {Status::Done, "done"},
    {Status::Skipped, "skipped"},
    {Status::Error, "error"},
    {Status::Cancelled, "cancelled"},
    {Status::Paused, "paused"},
}};

// The file name without building a QFileInfo: intake and restore create items by the hundred
// thousand, and every item's path is absolute and names a file.
QString lastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? path : path.mid(slash + 1);
}

}  // namespace

std::string_view statusText(Status status)
{
    for (const auto& entry : kStatusNames) {
        if (entry.status == status)
            return entry.word;
    }
    return {};
}

std::optional<Status> statusFromText(std::string_view text)
{
    for (const auto& entry : kStatusNames) {
        if (entry.word == text)
            return entry.status;
    }
    return std::nullopt;
}

QString statusWord(Status status)
{
    const std::string_view text = statusText(status);
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

std::optional<Status> statusFromWord(QStringView word)
{
    for (const auto& entry : kStatusNames) {
        if (word == QLatin1String(entry.word.data(), qsizetype(entry.word.size())))
            return entry.status;
    }
    return std::nullopt;
}

UploadItem::UploadItem(QUuid id, QString path, qint64 size, double mtime, QString destDir)
    : id(id),
      path(std::move(path)),
      name(lastComponent(this->path)),
      destDir(std::move(destDir)),
      size(size),
      mtime(mtime)
{
}

void UploadItem::setStatus(Status status)
{
    status_ = status;
    if (const std::shared_ptr<ItemChanges> changes = changes_.lock(); changes && status == Status::Queued)
        changes->queued();
    notify();
}

void UploadItem::notify()
{
    if (const std::shared_ptr<ItemChanges> changes = changes_.lock())
        changes->touched(id);
}

void UploadItem::setLoaded(qint64 loaded)
{
    inFlight_.clear();
    loaded_ = loaded;
    notify();
}

uint64_t UploadItem::beginAttempt(int64_t part, int attempt, int of)
{
    static uint64_t lastToken = 0;
    inFlight_.insert_or_assign(part, Attempt{++lastToken, 0, attempt, of});
    lastMoved_ = std::chrono::steady_clock::now();
    countLoaded();
    return lastToken;
}

void UploadItem::attemptSent(int64_t part, uint64_t token, qint64 total)
{
    const auto found = inFlight_.find(part);
    // Counts arrive from the I/O thread by way of the event loop, and may trail their attempt.
    if (found == inFlight_.end() || found->second.token != token || total <= found->second.sent)
        return;
    found->second.sent = total;
    lastMoved_ = std::chrono::steady_clock::now();
    countLoaded();
}

void UploadItem::dropAttempt(int64_t part, uint64_t token)
{
    const auto found = inFlight_.find(part);
    if (found == inFlight_.end() || found->second.token != token)
        return;
    inFlight_.erase(found);
    countLoaded();
}

void UploadItem::recordPart(int64_t part, QString etag)
{
    etags_.insert_or_assign(part, std::move(etag));
    inFlight_.erase(part);
    countLoaded();
}

std::optional<Resend> UploadItem::resending() const
{
    for (const auto& [part, attempt] : inFlight_)
        if (attempt.number > 1)
            return Resend{part, attempt.number, attempt.of};
    return std::nullopt;
}

std::optional<std::chrono::steady_clock::time_point> UploadItem::quietSince() const
{
    if (inFlight_.empty())
        return std::nullopt;
    return lastMoved_;
}

void UploadItem::countLoaded()
{
    qint64 sent = storedBytes();
    for (const auto& [part, attempt] : inFlight_)
        sent += attempt.sent;
    loaded_ = std::clamp<qint64>(sent, 0, std::max<qint64>(size, 0));
    notify();
}

void UploadItem::setError(std::optional<QString> error)
{
    error_ = std::move(error);
    notify();
}

void UploadItem::fail(QString message, QString detail)
{
    errorDetail_ = std::move(detail);
    setStatus(Status::Error);
    setError(std::move(message));
}

void UploadItem::clearError()
{
    errorDetail_.clear();
    setError(std::nullopt);
}

void UploadItem::setVerified(bool verified)
{
    verified_ = verified;
    notify();
}

qint64 UploadItem::storedBytes() const
{
    const __int128 whole = std::max<qint64>(size, 0);
    __int128 stored = 0;
    for (const auto& [n, etag] : etags_) {
        const __int128 start = __int128(n - 1) * partSize_;
        if (n >= 1 && partSize_ > 0 && start < whole)
            stored += std::min<__int128>(partSize_, whole - start);
    }
    return qint64(std::clamp<__int128>(stored, 0, whole));
}

void UploadItem::startAnew(qint64 newSize, double newMtime)
{
    size = newSize;
    mtime = newMtime;
    etags_.clear();
    setLoaded(0);
}

std::optional<UploadItem::OpenUpload> UploadItem::forgetUpload()
{
    const std::optional<QString> id = std::exchange(uploadId_, std::nullopt);
    etags_.clear();
    if (!key_ || !id)
        return std::nullopt;
    return OpenUpload{key_->toStdString(), id->toStdString()};
}

void UploadItem::beginUpload(QString objectKey, QString id, qint64 newPartSize)
{
    key_ = std::move(objectKey);
    uploadId_ = std::move(id);
    partSize_ = newPartSize;
    etags_.clear();
}

void UploadItem::setKey(QString objectKey)
{
    key_ = std::move(objectKey);
}

void UploadItem::keepPartsUpTo(int64_t total)
{
    std::erase_if(etags_, [total](const auto& entry) { return entry.first < 1 || entry.first > total; });
}

void UploadItem::restoreFrom(SavedUpload saved)
{
    key_ = std::move(saved.key);
    uploadId_ = std::move(saved.uploadId);
    partSize_ = saved.partSize;
    etags_ = std::move(saved.etags);
    setLoaded(storedBytes());
}

void UploadItem::finish(Status outcome)
{
    setStatus(outcome);
    setLoaded(size);
    finished = QDateTime::currentDateTimeUtc();
}

void UploadItem::setRetryWait(std::optional<RetryWait> wait)
{
    retryWait_ = wait;
    notify();
}

QString UploadItem::queueKey(const QString& path, const QString& destDir)
{
    return path + QChar(0x2192) + destDir;
}

}  // namespace zafrel
