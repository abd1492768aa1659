#include "engine/queue/upload_queue.h"

#include "engine/queue/item_changes.h"

#include <algorithm>

namespace zafrel {

void Summary::add(const UploadItem& item)
{
    switch (item.status()) {
    case Status::Done:
        ++done;
        bytes += item.size;
        break;
    case Status::Skipped: ++skipped; break;
    case Status::Error: ++errors; break;
    case Status::Queued:
    case Status::Running: ++active; break;
    case Status::Cancelled: ++cancelled; break;
    case Status::Paused: ++paused; break;
    }
}

UploadQueue::UploadQueue() : changes_(std::make_shared<ItemChanges>()) {}

UploadQueue::~UploadQueue() = default;

void UploadQueue::set(std::vector<ItemPtr> items)
{
    items_ = std::move(items);
    for (const ItemPtr& item : items_)
        item->reportTo(changes_);
    pickFrom_ = 0;
    emit reset();
    emit changed();
}

void UploadQueue::append(std::vector<ItemPtr> items, std::optional<uint64_t> joinsRun)
{
    if (items.empty()) {
        emit changed();
        return;
    }
    const size_t first = items_.size();
    items_.reserve(first + items.size());
    for (ItemPtr& item : items) {
        item->reportTo(changes_);
        if (joinsRun)
            item->run = *joinsRun;
        items_.push_back(std::move(item));
    }
    emit appended(int(first), int(items_.size() - first));
    emit changed();
}

void UploadQueue::keepOnly(std::vector<ItemPtr> kept)
{
    QList<QUuid> gone;
    size_t k = 0;
    for (const ItemPtr& item : items_) {
        if (k < kept.size() && kept[k] == item)
            ++k;
        else
            gone.push_back(item->id);
    }
    if (k != kept.size()) {
        set(std::move(kept));   // not the queue with items left out: a new list
        return;
    }
    if (gone.isEmpty()) {
        emit changed();
        return;
    }
    items_ = std::move(kept);
    pickFrom_ = 0;
    emit removed(gone);
    emit changed();
}

const std::vector<ItemPtr>& UploadQueue::whole() const
{
    if (aside_.empty()) {
        whole_.clear();
        return items_;
    }
    whole_ = items_;
    whole_.insert(whole_.end(), aside_.begin(), aside_.end());
    return whole_;
}

ItemPtr UploadQueue::firstQueued()
{
    // Items before pickFrom_ were found not queued, and stay so until an item is queued again or
    // items leave the list: so a run over a long queue does not scan everything already
    // finished at every pick.
    if (pickGeneration_ != changes_->queuedGeneration()) {
        pickGeneration_ = changes_->queuedGeneration();
        pickFrom_ = 0;
    }
    while (pickFrom_ < items_.size() && items_[pickFrom_]->status() != Status::Queued)
        ++pickFrom_;
    return pickFrom_ < items_.size() ? items_[pickFrom_] : nullptr;
}

Summary UploadQueue::summary() const
{
    Summary s;
    for (const ItemPtr& item : items_)
        s.add(*item);
    return s;
}

}  // namespace zafrel
