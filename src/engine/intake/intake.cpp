#include "engine/intake/intake.h"

#include "engine/intake/intake_scan.h"

#include <QHash>
#include <QSet>

#include <utility>

namespace zafrel {

std::vector<ItemPtr> itemsToQueue(const IntakeScan& scan, const std::vector<ItemPtr>& queue,
                                  const std::shared_ptr<const QueueOwner>& owner)
{
    QSet<QString> taken;
    for (const ItemPtr& item : queue) {
        const Status s = item->status();
        if (s == Status::Queued || s == Status::Running || s == Status::Paused)
            taken.insert(item->queueKey());
    }
    std::vector<ItemPtr> fresh;
    fresh.reserve(scan.files.size());
    for (const ScannedFile& file : scan.files) {
        auto item = std::make_shared<UploadItem>(QUuid::createUuid(), file.path, file.size, file.mtime, file.destDir);
        item->owner = owner;
        item->offloadRecord = file.record;
        if (taken.isEmpty() || !taken.contains(item->queueKey()))
            fresh.push_back(std::move(item));
    }
    return fresh;
}

std::vector<ItemPtr> leftoversNamedBy(const IntakeScan& scan, const std::vector<ItemPtr>& queue)
{
    QHash<QString, const ScannedFile*> wanted;
    for (const ScannedFile& file : scan.files)
        wanted.insert(UploadItem::queueKey(file.path, file.destDir), &file);
    std::vector<ItemPtr> leftovers;
    for (const ItemPtr& item : queue) {
        const Status status = item->status();
        const ScannedFile* file = wanted.value(item->queueKey());
        if ((status != Status::Paused && status != Status::Error) || !file)
            continue;
        item->offloadRecord = file->record;
        leftovers.push_back(item);
    }
    return leftovers;
}

}  // namespace zafrel
