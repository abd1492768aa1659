#include "engine/upload_item.h"

#include "engine/item_changes.h"

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

namespace {
uint64_t timesQueued = 0;   // main thread only, like the items
}

void UploadItem::setStatus(Status status)
{
    if (status == Status::Queued)
        ++timesQueued;
    status_ = status;
    notify();
}

void UploadItem::notify()
{
    if (const std::shared_ptr<ItemChanges> changes = changes_.lock())
        changes->touched(id);
}

uint64_t UploadItem::queuedGeneration()
{
    return timesQueued;
}

void UploadItem::setLoaded(qint64 loaded)
{
    loaded_ = loaded;
    notify();
}

void UploadItem::setError(std::optional<QString> error)
{
    error_ = std::move(error);
    notify();
}

void UploadItem::setVerified(bool verified)
{
    verified_ = verified;
    notify();
}

qint64 UploadItem::storedBytes() const
{
    const __int128 stored = __int128(etags.size()) * partSize;
    return qint64(std::clamp<__int128>(stored, 0, std::max<qint64>(size, 0)));
}

void UploadItem::startAnew(qint64 newSize, double newMtime)
{
    size = newSize;
    mtime = newMtime;
    etags.clear();
    setLoaded(0);
}

std::optional<UploadItem::OpenUpload> UploadItem::forgetUpload()
{
    const std::optional<QString> id = std::exchange(uploadId, std::nullopt);
    etags.clear();
    if (!key || !id)
        return std::nullopt;
    return OpenUpload{key->toStdString(), id->toStdString()};
}

void UploadItem::beginUpload(QString objectKey, QString id, qint64 newPartSize)
{
    key = std::move(objectKey);
    uploadId = std::move(id);
    partSize = newPartSize;
    etags.clear();
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
