#include "ui/queue_model.h"

#include "engine/upload_manager.h"
#include "platform/printable.h"
#include "ui/style.h"
#include "ui/upload_row.h"

#include <algorithm>

namespace zafrel::ui {

namespace {
// Past this many separate gaps a removal is cheaper to show as a reset than gap by gap.
constexpr size_t kMaxRemovedRuns = 64;
}  // namespace

QueueModel::QueueModel(UploadManager& up, QObject* parent) : QAbstractListModel(parent), up_(up)
{
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(std::chrono::milliseconds(80));
    connect(&flushTimer_, &QTimer::timeout, this, &QueueModel::flushChanges);
    connect(&up_, &UploadManager::itemsChanged, this, &QueueModel::syncWithQueue);

    items_ = up_.items();
    for (const ItemPtr& item : items_)
        watch(item);
    rebuildRows();
}

int QueueModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(items_.size());
}

QVariant QueueModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= int(items_.size()))
        return {};
    const UploadItem& item = *items_[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole: return printable(item.name);
    case Qt::ToolTipRole:
        return plainToolTip(item.errorDetail.isEmpty() || item.status() != Status::Error
                                ? printable(item.path)
                                : printable(item.path) + u'\n' + printable(item.errorDetail));
    case Qt::AccessibleTextRole: return rowAccessibleName(item, up_.destDir());
    case Qt::AccessibleDescriptionRole: return rowAccessibleDescription(item);
    case ItemRole: return QVariant::fromValue(static_cast<void*>(items_[size_t(index.row())].get()));
    case StatusRole: return int(item.status());
    case SubtitleRole: return rowSubtitle(item);
    case SymbolRole: return rowSymbol(item.status());
    default: return {};
    }
}

ItemPtr QueueModel::itemAt(int row) const
{
    if (row < 0 || row >= int(items_.size()))
        return nullptr;
    return items_[size_t(row)];
}

int QueueModel::rowOf(const QUuid& id) const
{
    return rows_.value(id, -1);
}

void QueueModel::setFailedFirst(bool failedFirst)
{
    if (failedFirst_ == failedFirst)
        return;
    failedFirst_ = failedFirst;
    syncWithQueue();
}

bool QueueModel::arrangedAsShown() const
{
    if (!failedFirst_)
        return true;
    // Failed rows form one block at the top; any failed row below a working one breaks it.
    bool sawOther = false;
    for (const ItemPtr& item : items_) {
        const bool failed = item->status() == Status::Error;
        if (failed && sawOther)
            return false;
        sawOther = sawOther || !failed;
    }
    return true;
}

void QueueModel::syncWithQueue()
{
    std::vector<ItemPtr> arranged;
    if (failedFirst_) {
        arranged = up_.items();
        std::stable_partition(arranged.begin(), arranged.end(),
                              [](const ItemPtr& item) { return item->status() == Status::Error; });
    }
    const std::vector<ItemPtr>& now = failedFirst_ ? arranged : up_.items();
    const size_t before = items_.size();

    // Intake appends at the end.
    if (now.size() >= before && std::equal(items_.begin(), items_.end(), now.begin())) {
        if (now.size() == before)
            return;
        beginInsertRows({}, int(before), int(now.size()) - 1);
        for (size_t i = before; i < now.size(); ++i) {
            items_.push_back(now[i]);
            watch(now[i]);
            rows_.insert(now[i]->id, int(i));
        }
        endInsertRows();
        return;
    }

    // Removal of single items and clearing keep the order of the rest: find the removed runs.
    if (now.size() < before) {
        std::vector<std::pair<size_t, size_t>> runs;   // [first, last] in the old list
        size_t j = 0;
        for (size_t i = 0; i < before; ++i) {
            if (j < now.size() && items_[i] == now[j]) {
                ++j;
                continue;
            }
            if (!runs.empty() && runs.back().second + 1 == i)
                runs.back().second = i;
            else
                runs.emplace_back(i, i);
        }
        if (j == now.size() && runs.size() <= kMaxRemovedRuns) {
            // From the back, so that the rows of earlier runs keep their numbers.
            for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
                beginRemoveRows({}, int(run->first), int(run->second));
                for (size_t i = run->first; i <= run->second; ++i) {
                    unwatch(items_[i]);
                    changed_.remove(items_[i]->id);
                }
                items_.erase(items_.begin() + std::ptrdiff_t(run->first), items_.begin() + std::ptrdiff_t(run->second) + 1);
                endRemoveRows();
            }
            rebuildRows();
            return;
        }
    }

    beginResetModel();
    QSet<const UploadItem*> kept;
    for (const ItemPtr& item : now)
        kept.insert(item.get());
    QSet<const UploadItem*> watched;
    for (const ItemPtr& item : items_) {
        if (!kept.contains(item.get()))
            unwatch(item);
        else
            watched.insert(item.get());
    }
    for (const ItemPtr& item : now)
        if (!watched.contains(item.get()))
            watch(item);
    items_ = now;
    changed_.clear();
    rebuildRows();
    endResetModel();
}

void QueueModel::watch(const ItemPtr& item)
{
    // One connection per item, carrying its id: the row is looked up only when the batch is
    // flushed, so rows that moved in between are still found.
    connect(item.get(), &UploadItem::changed, this, [this, id = item->id] { noteChanged(id); });
}

void QueueModel::unwatch(const ItemPtr& item)
{
    disconnect(item.get(), nullptr, this, nullptr);
}

void QueueModel::rebuildRows()
{
    rows_.clear();
    rows_.reserve(qsizetype(items_.size()));
    for (size_t i = 0; i < items_.size(); ++i)
        rows_.insert(items_[i]->id, int(i));
}

void QueueModel::noteChanged(const QUuid& id)
{
    changed_.insert(id);
    if (!flushTimer_.isActive())
        flushTimer_.start();
}

void QueueModel::flushChanges()
{
    flushTimer_.stop();
    if (changed_.isEmpty())
        return;
    std::vector<int> rows;
    rows.reserve(size_t(changed_.size()));
    for (const QUuid& id : std::as_const(changed_)) {
        const int row = rowOf(id);
        if (row >= 0)
            rows.push_back(row);
    }
    changed_.clear();
    if (!arrangedAsShown()) {
        // A row failed (or was retried) while failed rows go first: it moves.
        syncWithQueue();
        emit itemsTouched();
        return;
    }
    std::sort(rows.begin(), rows.end());
    // Neighbouring rows go out as one range.
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        emit dataChanged(index(rows[i]), index(rows[j]));
        i = j + 1;
    }
    emit itemsTouched();
}

}  // namespace zafrel::ui
