#pragma once
#include "engine/queue/upload_item.h"
#include "ui/upload_row.h"

#include <QListView>

namespace zafrel {
class UploadManager;
}

namespace zafrel::ui {

class QueueModel;

// The queue list: painted rows (UploadRowDelegate), a visible keyboard focus, Return for the row's
// button (retry a failed row, pause a running one, resume a paused one) and Delete to cancel or
// remove one, a context menu with the same and "failed first",
// and a view that keeps the first running row in sight unless the user has scrolled away from it.
class QueueView : public QListView {
    Q_OBJECT
public:
    QueueView(QueueModel& model, UploadManager& up, QWidget* parent = nullptr);

    // Scrolls the first running row into view while the list follows the run. Called on every
    // redraw of the window.
    void followRun();
    bool following() const { return following_; }
    // The first running row, or -1.
    int firstRunningRow() const;

    // What the row's own buttons do, for the keyboard and the menu.
    void actOnRow(int row);
    void removeRow(int row);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    bool rowVisible(int row) const;

    QueueModel& model_;
    UploadManager& up_;
    bool following_ = true;
    bool scrollingItself_ = false;
};

// Hands a row's action to the engine on a later turn of the event loop: the engine may remove the
// row at once, and the view must first finish the event that asked.
// `action` is the row's button; the cross is requestRowRemoval(), which asks `asker`'s window first
// when a failed, paused or cancelled file would leave the list.
void requestRowAction(QObject* context, UploadManager& up, const ItemPtr& item, RowAction action);
void requestRowRemoval(QWidget* asker, UploadManager& up, const ItemPtr& item);

}  // namespace zafrel::ui
