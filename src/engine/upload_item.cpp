#include "engine/upload_item.h"

#include <array>

namespace zafrel {

namespace {

struct StatusName {
    Status status;
    QStringView word;
};

constexpr std::array<StatusName, 7> kStatusNames{{
    {Status::Queued, u"queued"},
    {Status::Running, u"running"},
    {Status::Done, u"done"},
    {Status::Skipped, u"skipped"},
    {Status::Error, u"error"},
    {Status::Cancelled, u"cancelled"},
    {Status::Paused, u"paused"},
}};

// The file name without building a QFileInfo: intake and restore create items by the hundred
// thousand, and every item's path is absolute and names a file.
QString lastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? path : path.mid(slash + 1);
}

}  // namespace

QString statusWord(Status status)
{
    for (const auto& entry : kStatusNames) {
        if (entry.status == status)
            return entry.word.toString();
    }
    return {};
}

std::optional<Status> statusFromWord(QStringView word)
{
    for (const auto& entry : kStatusNames) {
        if (entry.word == word)
            return entry.status;
    }
    return std::nullopt;
}

UploadItem::UploadItem(QUuid id, QUrl fileURL, qint64 size, double mtime, QString destDir)
    : id(id),
      fileURL(std::move(fileURL)),
      path(this->fileURL.toLocalFile()),
      name(lastComponent(path)),
      size(size),
      mtime(mtime),
      destDir(std::move(destDir))
{
}

void UploadItem::setStatus(Status status)
{
    status_ = status;
    emit changed();
}

void UploadItem::setLoaded(qint64 loaded)
{
    loaded_ = loaded;
    emit changed();
}

void UploadItem::setError(std::optional<QString> error)
{
    error_ = std::move(error);
    emit changed();
}

void UploadItem::setVerified(bool verified)
{
    verified_ = verified;
    emit changed();
}

QString UploadItem::queueKey() const
{
    return path + QChar(0x2192) + destDir;
}

}  // namespace zafrel
