#include "ui/queue_view.h"

#include "engine/upload_manager.h"
#include "ui/queue_model.h"
#include "ui/upload_row.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>

namespace zafrel::ui {

void requestRowAction(QObject* context, UploadManager& up, const ItemPtr& item, bool retry)
{
    QPointer<UploadManager> manager(&up);
    QMetaObject::invokeMethod(context, [manager, item, retry] {
        if (!manager)
            return;
        if (retry)
            manager->retry(item);
        else
            manager->cancel(item);
    }, Qt::QueuedConnection);
}

QueueView::QueueView(QueueModel& model, UploadManager& up, QWidget* parent)
    : QListView(parent), model_(model), up_(up)
{
    setAccessibleName(QStringLiteral("Cola de subida"));
    setAccessibleDescription(QStringLiteral("Intro reintenta el archivo fallido; Suprimir lo cancela o lo quita de la lista."));
    setFocusPolicy(Qt::StrongFocus);
    // A scroll by the user decides whether the list keeps following the run: away from the first
    // running row it stops, back onto it it follows again.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (!scrollingItself_) {
            const int row = firstRunningRow();
            following_ = row < 0 || rowVisible(row);
        }
    });
}

int QueueView::firstRunningRow() const
{
    for (int row = 0, rows = model_.rowCount(); row < rows; ++row)
        if (model_.itemAt(row)->status() == Status::Running)
            return row;
    return -1;
}

bool QueueView::rowVisible(int row) const
{
    const QRect rect = visualRect(model_.index(row));
    return rect.isValid() && viewport()->rect().contains(rect);
}

void QueueView::followRun()
{
    if (!following_)
        return;
    const int row = firstRunningRow();
    if (row < 0 || rowVisible(row))
        return;
    scrollingItself_ = true;
    scrollTo(model_.index(row), QAbstractItemView::PositionAtTop);
    scrollingItself_ = false;
}

void QueueView::retryRow(int row)
{
    const ItemPtr item = model_.itemAt(row);
    if (item && rowRetriable(*item, up_.isRunning()))
        requestRowAction(this, up_, item, true);
}

void QueueView::removeRow(int row)
{
    if (const ItemPtr item = model_.itemAt(row))
        requestRowAction(this, up_, item, false);
}

void QueueView::keyPressEvent(QKeyEvent* event)
{
    const int row = currentIndex().row();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        retryRow(row);
        event->accept();
        return;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        removeRow(row);
        event->accept();
        return;
    default:
        QListView::keyPressEvent(event);
    }
}

void QueueView::contextMenuEvent(QContextMenuEvent* event)
{
    // From the keyboard the menu is about the focused row, from the mouse about the row under it.
    const QModelIndex index = event->reason() == QContextMenuEvent::Keyboard ? currentIndex() : indexAt(event->pos());
    const ItemPtr item = model_.itemAt(index.row());
    QMenu menu(this);
    if (item) {
        QAction* retry = menu.addAction(QStringLiteral("Reintentar"));
        retry->setEnabled(rowRetriable(*item, up_.isRunning()));
        connect(retry, &QAction::triggered, this, [this, row = index.row()] { retryRow(row); });
        QAction* remove = menu.addAction(crossTooltip(*item));
        connect(remove, &QAction::triggered, this, [this, row = index.row()] { removeRow(row); });
        menu.addSeparator();
    }
    QAction* failedFirst = menu.addAction(QStringLiteral("Mostrar primero los fallidos"));
    failedFirst->setCheckable(true);
    failedFirst->setChecked(model_.failedFirst());
    connect(failedFirst, &QAction::toggled, this, [this](bool on) { model_.setFailedFirst(on); });
    menu.exec(event->globalPos());
}

}  // namespace zafrel::ui
