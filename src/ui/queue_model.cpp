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
    connect(&up_, &UploadManager::itemsReset, this, &QueueModel::resetFromQueue);
    connect(&up_, &UploadManager::itemsAppended, this, &QueueModel::appendFromQueue);
    connect(&up_, &UploadManager::itemsRemoved, this, &QueueModel::removeItems);
    connect(&up_, &UploadManager::itemsUpdated, this, &QueueModel::noteChanged);

    items_ = up_.items();
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
        return plainToolTip(item.errorDetail().isEmpty() || item.status() != Status::Error
                                ? printable(item.path)
                                : printable(item.path) + u'\n' + printable(item.errorDetail()));
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
    resetFromQueue();
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

void QueueModel::resetFromQueue()
{
    beginResetModel();
    items_ = up_.items();
    if (failedFirst_)
        std::stable_partition(items_.begin(), items_.end(), [](const ItemPtr& item) { return item->status() == Status::Error; });
    changed_.clear();
    rebuildRows();
    endResetModel();
}

void QueueModel::appendFromQueue(int first, int count)
{
    // New items of the intake are queued: they go at the end also when failed rows go first. A
    // failed one (an item list handed over whole) takes its place among them instead.
    const std::vector<ItemPtr>& queue = up_.items();
    const auto failed = [](const ItemPtr& item) { return item->status() == Status::Error; };
    if (failedFirst_ && std::any_of(queue.begin() + first, queue.begin() + first + count, failed)) {
        resetFromQueue();
        return;
    }
    const int before = int(items_.size());
    beginInsertRows({}, before, before + count - 1);
    for (int i = first; i < first + count; ++i) {
        rows_.insert(queue[size_t(i)]->id, int(items_.size()));
        items_.push_back(queue[size_t(i)]);
    }
    endInsertRows();
}

void QueueModel::removeItems(const QList<QUuid>& ids)
{
    std::vector<int> rows;
    rows.reserve(size_t(ids.size()));
    for (const QUuid& id : ids) {
        const int row = rowOf(id);
        if (row >= 0)
            rows.push_back(row);
        changed_.remove(id);
    }
    std::sort(rows.begin(), rows.end());
    std::vector<std::pair<int, int>> runs;   // [first, last]
    for (const int row : rows) {
        if (!runs.empty() && runs.back().second + 1 == row)
            runs.back().second = row;
        else
            runs.emplace_back(row, row);
    }
    if (runs.size() > kMaxRemovedRuns) {
        resetFromQueue();
        return;
    }
    // From the back, so that the rows of earlier runs keep their numbers.
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        beginRemoveRows({}, run->first, run->second);
        items_.erase(items_.begin() + run->first, items_.begin() + run->second + 1);
        endRemoveRows();
    }
    rebuildRows();
}

void QueueModel::rebuildRows()
{
    rows_.clear();
    rows_.reserve(qsizetype(items_.size()));
    for (size_t i = 0; i < items_.size(); ++i)
        rows_.insert(items_[i]->id, int(i));
}

void QueueModel::noteChanged(const QList<QUuid>& ids)
{
    for (const QUuid& id : ids)
        changed_.insert(id);
    if (!flushTimer_.isActive())
        flushTimer_.start();
}

void QueueModel::flushChanges()
{
    up_.deliverItemChanges();   // noted here at once
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
        resetFromQueue();
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
