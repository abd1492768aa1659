#include "engine/queue/leftover_uploads.h"

#include "client/zafrel_api.h"
#include "engine/transfer/background_aborts.h"

namespace zafrel {

void discardUploadLater(ZafrelAPI& api, UploadItem& item)
{
    if (std::optional<UploadItem::OpenUpload> open = item.forgetUpload())
        abortInBackground(api, std::move(open->key), std::move(open->uploadId));
}

QCoro::Task<ForgottenLeftovers> forgetLeftovers(ZafrelAPI& api, std::vector<ItemPtr> items)
{
    ForgottenLeftovers result;
    for (const ItemPtr& item : items) {
        const bool leftover = item->status() == Status::Paused || item->status() == Status::Error;
        if (!leftover) {
            result.remaining.push_back(item);
            continue;
        }
        if (item->key() && item->uploadId()) {
            std::optional<QString> failure;
            try {
                co_await api.abortOrThrow(item->key()->toStdString(), item->uploadId()->toStdString());
            } catch (const std::exception& e) {
                failure = QString::fromUtf8(e.what());
            }
            if (failure) {
                result.failure = *failure;
                ++result.kept;
                result.remaining.push_back(item);
                continue;
            }
            ++result.abortedUploads;
        }
        ++result.items;
    }
    co_return result;
}

}  // namespace zafrel
