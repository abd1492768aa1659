// What becomes of an open multipart upload that will not be continued. The store keeps (and bills)
// the parts of an upload until it is completed or aborted, so every upload the engine lets go of
// (a cancel, a retry of a changed file, a plan that cannot be used, a queue entry whose file is
// gone) is aborted at the service first.
#include "engine/file_state.h"
#include "engine/part_plan.h"
#include "engine/upload_manager.h"
#include "platform/async.h"

namespace zafrel {

QCoro::Task<void> UploadManager::reviewOpenUpload(ItemPtr it)
{
    auto examine = [path = it->path] { return currentFileState(path); };
    const std::optional<FileState> now = co_await runInPool(std::move(examine));
    // A file that cannot be examined (a card not mounted yet) keeps its upload: the transfer fails
    // on reading it, and the parts are still there when it comes back.
    if (!now)
        co_return;
    const bool unchanged = now->size == it->size && now->mtime == it->mtime;
    // An edited queue file may name a part size the store would refuse, or one so small that the
    // parts would be countless.
    const bool usable = it->key && partCount(it->size, it->partSize, limits.minPart);
    if (unchanged && usable)
        co_return;
    // Old parts never go into an object with new content: the upload is dropped and the file, as
    // it is now, is sent anew.
    co_await discardUpload(it);
    it->size = now->size;
    it->mtime = now->mtime;
    it->setLoaded(0);
    persist(it);
}

QCoro::Task<void> UploadManager::discardUpload(ItemPtr it)
{
    const std::optional<QString> key = it->key;
    const std::optional<QString> uploadId = std::exchange(it->uploadId, std::nullopt);
    it->etags.clear();
    if (key && uploadId)
        co_await api.abort(key->toStdString(), uploadId->toStdString());
}

QCoro::Task<UploadManager::Forgotten> UploadManager::forgetLeftovers()
{
    Forgotten result;
    std::vector<ItemPtr> kept;
    // Taken from the list before anything is awaited: the list may be replaced meanwhile.
    const std::vector<ItemPtr> items = items_;
    for (const ItemPtr& item : items) {
        const bool leftover = item->status() == Status::Paused || item->status() == Status::Error;
        if (!leftover) {
            kept.push_back(item);
            continue;
        }
        if (item->key && item->uploadId) {
            std::optional<QString> failure;
            try {
                co_await api.abortOrThrow(item->key->toStdString(), item->uploadId->toStdString());
            } catch (const std::exception& e) {
                failure = QString::fromUtf8(e.what());
            }
            if (failure) {
                result.failure = *failure;
                ++result.kept;
                kept.push_back(item);
                continue;
            }
            ++result.abortedUploads;
        }
        ++result.items;
    }
    setItems(std::move(kept));
    persistNow();
    co_return result;
}

void UploadManager::discardUploadLater(const ItemPtr& item)
{
    const std::optional<QString> uploadId = std::exchange(item->uploadId, std::nullopt);
    item->etags.clear();
    if (item->key && uploadId)
        abortLater(item->key->toStdString(), uploadId->toStdString());
}

void UploadManager::abortLater(std::string key, std::string uploadId)
{
    ++pendingAborts_;
    spawn([self = QPointer<UploadManager>(this), &api = api, key = std::move(key), uploadId = std::move(uploadId)] {
        return abortUpload(self, api, key, uploadId);
    });
}

QCoro::Task<void> UploadManager::abortUpload(QPointer<UploadManager> self, ZafrelAPI& api, std::string key,
                                             std::string uploadId)
{
    co_await api.abort(std::move(key), std::move(uploadId));   // never throws
    if (self)
        --self->pendingAborts_;
}

}  // namespace zafrel
