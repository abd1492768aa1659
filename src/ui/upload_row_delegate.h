#pragma once
#include "engine/queue/upload_item.h"

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

namespace zafrel {
class UploadManager;
}

namespace zafrel::ui {

class QueueModel;

// Paints one queue row (symbol, name, state text, progress bar while running, its button —
// "Reintentar", "Pausar" or "Reanudar" — and the cross) and handles those two buttons. Rows are painted, not built from widgets, so that
// a queue of a whole shooting week scrolls as smoothly as a short one.
class UploadRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    UploadRowDelegate(QueueModel& model, UploadManager& up, QObject* parent = nullptr);

    struct Layout {
        QRect symbol;
        QRect name;
        QRect subtitle;
        QRect progress;   // empty unless running
        QRect action;     // the row's button; empty when it has none
        QRect cross;
    };
    // Where each part of the row of `item` goes inside `rowRect`.
    Layout layout(const QRect& rowRect, const UploadItem& item) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

private:
    enum class Button { None, Action, Cross };
    Button buttonAt(const QRect& rowRect, const UploadItem& item, const QPoint& pos) const;
    void press(const ItemPtr& item, Button button);

    QueueModel& model_;
    UploadManager& up_;
    QPersistentModelIndex pressedIndex_;
    Button pressedButton_ = Button::None;
};

}  // namespace zafrel::ui
