#include "ui/queue_view.h"

#include "engine/upload_manager.h"
#include "platform/printable.h"
#include "ui/confirmation.h"
#include "ui/queue_model.h"
#include "ui/upload_row.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>

namespace zafrel::ui {

void requestRowAction(QObject* context, UploadManager& up, const ItemPtr& item, RowAction action)
{
    QPointer<UploadManager> manager(&up);
    if (action == RowAction::Replace) {
        // The file there may be another camera's clip that exists nowhere else now.
        QWidget* asker = qobject_cast<QWidget*>(context);
        if (!asker)
            asker = qobject_cast<QWidget*>(context->parent());
        askToConfirm(asker ? asker->window() : nullptr,
                     QStringLiteral("¿Reemplazar «%1» en el destino?").arg(printable(item->name)),
                     QStringLiteral("Ya hay allí otro archivo con ese nombre y otro contenido (quizá de otra cámara). "
                                    "Si lo reemplazas, se pierde en el destino."),
                     QStringLiteral("Reemplazar"), QStringLiteral("Volver"), [manager, item] {
                         if (manager)
                             manager->replace(item);
                     });
        return;
    }
    QMetaObject::invokeMethod(context, [manager, item, action] {
        if (!manager)
            return;
        if (action == RowAction::Pause)
            manager->pause(item);
        else if (action != RowAction::None)
            manager->retry(item);   // a paused file continues with what is missing
    }, Qt::QueuedConnection);
}

void requestRowRemoval(QWidget* asker, UploadManager& up, const ItemPtr& item)
{
    QPointer<UploadManager> manager(&up);
    auto remove = [manager, item] {
        if (manager)
            manager->cancel(item);
    };
    // A failed, paused or cancelled file is not sent again once it has left the list: asked first.
    const Status status = item->status();
    if (status == Status::Error || status == Status::Paused || status == Status::Cancelled) {
        askToConfirm(asker ? asker->window() : nullptr, QStringLiteral("¿Quitar «%1» de la lista?").arg(printable(item->name)),
                     QStringLiteral("No se volverá a intentar; para subirlo más tarde habrá que añadirlo otra vez."),
                     QStringLiteral("Quitar"), QStringLiteral("Volver"), std::move(remove));
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(remove), Qt::QueuedConnection);
}

QueueView::QueueView(QueueModel& model, UploadManager& up, QWidget* parent)
    : QListView(parent), model_(model), up_(up)
{
    setAccessibleName(QStringLiteral("Cola de subida"));
    setAccessibleDescription(QStringLiteral("Intro reintenta, pausa o reanuda el archivo; Suprimir lo cancela o lo quita de la lista."));
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

void QueueView::actOnRow(int row)
{
    if (const ItemPtr item = model_.itemAt(row))
        requestRowAction(this, up_, item, rowAction(*item, up_.isRunning()));
}

void QueueView::removeRow(int row)
{
    if (const ItemPtr item = model_.itemAt(row))
        requestRowRemoval(this, up_, item);
}

void QueueView::keyPressEvent(QKeyEvent* event)
{
    const int row = currentIndex().row();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        actOnRow(row);
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
        const RowAction action = rowAction(*item, up_.isRunning());
        if (action != RowAction::None) {
            QAction* act = menu.addAction(rowActionText(action));
            connect(act, &QAction::triggered, this, [this, row = index.row()] { actOnRow(row); });
        }
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
