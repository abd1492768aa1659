#pragma once
#include "engine/queue/upload_item.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QTimer>
#include <QUuid>

#include <chrono>
#include <vector>

namespace zafrel {
class UploadManager;
}

namespace zafrel::ui {

// The engine's queue as a list model: one row per item, in queue order (or failed rows first).
//
// The engine tells its list's changes as what they are (items appended, removed, or a new list),
// and each becomes the same model change. Item changes are frequent while bytes move (every part
// in flight reports progress): the engine hands them over in batches of ids, which are only noted
// here and flushed together a few times a second, so that each flush repaints just the rows that
// changed and the view never sees more than one repaint per row per interval.
class QueueModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        ItemRole = Qt::UserRole + 1,   // UploadItem* (valid while the row exists)
        StatusRole,                    // int(Status)
        SubtitleRole,
        SymbolRole,
    };

    explicit QueueModel(UploadManager& up, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    ItemPtr itemAt(int row) const;
    // Row of the item with `id`, or -1.
    int rowOf(const QUuid& id) const;

    // How long item changes are gathered before the rows repaint.
    void setRepaintInterval(std::chrono::milliseconds interval) { flushTimer_.setInterval(interval); }
    // Applies gathered item changes now.
    void flushChanges();

    // Shows the failed rows first, each group in queue order; off, the queue's own order.
    void setFailedFirst(bool failedFirst);
    bool failedFirst() const { return failedFirst_; }

signals:
    // Gathered item changes were applied (the footer recounts then).
    void itemsTouched();

private:
    void resetFromQueue();
    void appendFromQueue(int first, int count);
    void removeItems(const QList<QUuid>& ids);
    void rebuildRows();
    void noteChanged(const QList<QUuid>& ids);
    bool arrangedAsShown() const;

    UploadManager& up_;
    std::vector<ItemPtr> items_;   // the queue as the view knows it
    QHash<QUuid, int> rows_;
    QSet<QUuid> changed_;
    QTimer flushTimer_;
    bool failedFirst_ = false;
};

}  // namespace zafrel::ui
