#include "ui/upload_row_delegate.h"

#include "engine/upload_manager.h"
#include "platform/printable.h"
#include "ui/icons.h"
#include "ui/queue_model.h"
#include "ui/queue_view.h"
#include "ui/style.h"
#include "ui/upload_row.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QStyleOptionButton>
#include <QToolTip>

namespace zafrel::ui {

namespace {

constexpr int kInset = 16;          // left and right padding: the symbols line up with the header's text
constexpr int kSpacing = 10;        // between the row's elements
constexpr int kSymbolSize = 18;
constexpr int kCrossSize = 16;
constexpr int kProgressHeight = 5;
constexpr int kLineGap = 3;
constexpr int kVerticalMargin = 6;  // 2 of the row plus room between rows

QFont nameFont() { return QApplication::font(); }

QFont retryFont()
{
    QFont font = captionFont();
    return font;
}

QSize actionSize(RowAction action)
{
    const QFontMetrics metrics(retryFont());
    return {metrics.horizontalAdvance(rowActionText(action)) + 18, metrics.height() + 8};
}

}  // namespace

UploadRowDelegate::UploadRowDelegate(QueueModel& model, UploadManager& up, QObject* parent)
    : QStyledItemDelegate(parent), model_(model), up_(up)
{
}

QSize UploadRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    // Every row is as tall as a running one, so the list can use uniform item sizes and never
    // jumps when a row starts or stops showing its bar.
    const int height = kVerticalMargin * 2 + QFontMetrics(nameFont()).height() + kLineGap
                       + QFontMetrics(captionFont()).height() + kLineGap + kProgressHeight;
    return {200, std::max(height, actionSize(RowAction::Retry).height() + 2 * kVerticalMargin)};
}

UploadRowDelegate::Layout UploadRowDelegate::layout(const QRect& rowRect, const UploadItem& item) const
{
    Layout out;
    const QRect inner = rowRect.adjusted(kInset, kVerticalMargin, -kInset, -kVerticalMargin);
    const int centerY = inner.center().y();

    out.symbol = QRect(inner.left(), centerY - kSymbolSize / 2, kSymbolSize, kSymbolSize);
    out.cross = QRect(inner.right() - kCrossSize - 3, centerY - (kCrossSize + 6) / 2, kCrossSize + 6, kCrossSize + 6);
    int right = out.cross.left() - kSpacing;
    if (const RowAction action = rowAction(item, up_.isRunning()); action != RowAction::None) {
        const QSize size = actionSize(action);
        out.action = QRect(right - size.width(), centerY - size.height() / 2, size.width(), size.height());
        right = out.action.left() - kSpacing;
    }

    const int left = out.symbol.right() + 1 + kSpacing;
    const int width = std::max(0, right - left);
    const int nameHeight = QFontMetrics(nameFont()).height();
    const int captionHeight = QFontMetrics(captionFont()).height();
    const bool running = item.status() == Status::Running;
    const int columnHeight = nameHeight + kLineGap + captionHeight + (running ? kLineGap + kProgressHeight : 0);
    int y = centerY - columnHeight / 2;
    out.name = QRect(left, y, width, nameHeight);
    y += nameHeight + kLineGap;
    out.subtitle = QRect(left, y, width, captionHeight);
    y += captionHeight + kLineGap;
    if (running)
        out.progress = QRect(left, y, width, kProgressHeight);
    return out;
}

void UploadRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const ItemPtr item = model_.itemAt(index.row());
    if (!item)
        return;
    const Layout parts = layout(option.rect, *item);
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    if (option.state & QStyle::State_MouseOver) {
        QColor hover = option.palette.color(QPalette::Text);
        hover.setAlphaF(0.04);
        painter->fillRect(option.rect, hover);
    }

    const Status status = item->status();
    painter->drawPixmap(parts.symbol.topLeft(), symbolPixmap(rowSymbol(status), rowSymbolColor(status), kSymbolSize, ratio));

    // The folder below the destination, softened, then the name: two cards' C0001.MXF differ by
    // their folders. The name keeps its room; the folder gives up its start first.
    painter->setFont(nameFont());
    const QFontMetrics nameMetrics(nameFont());
    const QString name = printable(item->name);
    const QString folder = rowFolder(*item, up_.destDir());
    const int nameWidth = std::min(nameMetrics.horizontalAdvance(name), parts.name.width());
    QRect nameRect = parts.name;
    if (!folder.isEmpty()) {
        const int folderRoom = parts.name.width() - nameWidth;
        const QString shownFolder = nameMetrics.elidedText(folder + u'/', Qt::ElideLeft, folderRoom);
        painter->setPen(secondaryColor());
        painter->drawText(parts.name, Qt::AlignLeft | Qt::AlignVCenter, shownFolder);
        nameRect.setLeft(parts.name.left() + nameMetrics.horizontalAdvance(shownFolder));
    }
    painter->setPen(option.palette.color(QPalette::Text));
    painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                      nameMetrics.elidedText(name, Qt::ElideMiddle, nameRect.width()));

    painter->setFont(captionFont());
    painter->setPen(rowSubtitleColor(*item));
    const QFontMetrics captionMetrics(captionFont());
    painter->drawText(parts.subtitle, Qt::AlignLeft | Qt::AlignVCenter,
                      captionMetrics.elidedText(rowSubtitle(*item), Qt::ElideRight, parts.subtitle.width()));

    if (!parts.progress.isEmpty()) {
        const QRectF track = parts.progress;
        const qreal radius = track.height() / 2;
        QColor trackColor = option.palette.color(QPalette::Text);
        trackColor.setAlphaF(0.12);
        painter->setPen(Qt::NoPen);
        painter->setBrush(trackColor);
        painter->drawRoundedRect(track, radius, radius);
        // A file waiting for its next attempt shows the empty track: what was sent did not arrive.
        // (A part waiting leaves the track to the parts stored and in flight.)
        const bool waiting = item->retryWait() && item->retryWait()->part == 0;
        const qreal filled = waiting ? 0 : track.width() * rowProgressFraction(*item);
        if (filled > 0) {
            painter->setBrush(accentColor());
            painter->drawRoundedRect(QRectF(track.left(), track.top(), std::max(filled, track.height()), track.height()),
                                     radius, radius);
        }
    }

    if (!parts.action.isEmpty()) {
        QStyleOptionButton button;
        if (option.widget)
            button.initFrom(option.widget);
        button.rect = parts.action;
        button.text = rowActionText(rowAction(*item, up_.isRunning()));
        button.state = QStyle::State_Enabled | QStyle::State_Raised;
        if (pressedIndex_ == index && pressedButton_ == Button::Action)
            button.state |= QStyle::State_Sunken;
        button.fontMetrics = QFontMetrics(retryFont());
        painter->setFont(retryFont());
        QStyle* style = option.widget ? option.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_PushButton, &button, painter, option.widget);
    }

    // Keyboard focus: the row that Return and Delete act on.
    if (option.state & QStyle::State_HasFocus) {
        QColor ring = accentColor();
        painter->setPen(QPen(ring, 1.5));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option.rect).adjusted(3, 2, -3, -2), 6, 6);
    }

    const QRect crossIcon(parts.cross.center() - QPoint(kCrossSize / 2 - 1, kCrossSize / 2 - 1), QSize(kCrossSize, kCrossSize));
    painter->drawPixmap(crossIcon.topLeft(), symbolPixmap(QStringLiteral("xmark"), secondaryColor(), kCrossSize, ratio));

    painter->restore();
}

UploadRowDelegate::Button UploadRowDelegate::buttonAt(const QRect& rowRect, const UploadItem& item, const QPoint& pos) const
{
    const Layout parts = layout(rowRect, item);
    if (parts.cross.contains(pos))
        return Button::Cross;
    if (!parts.action.isEmpty() && parts.action.contains(pos))
        return Button::Action;
    return Button::None;
}

bool UploadRowDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                    const QModelIndex& index)
{
    const ItemPtr item = model_.itemAt(index.row());
    if (!item)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        const Button button = buttonAt(option.rect, *item, mouse->position().toPoint());
        if (button == Button::None)
            return false;
        pressedIndex_ = index;
        pressedButton_ = button;
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const Button pressed = pressedButton_;
        const bool sameRow = pressedIndex_ == index;
        pressedIndex_ = QPersistentModelIndex();
        pressedButton_ = Button::None;
        if (pressed == Button::None)
            return false;
        // A press that slid off its button does nothing, as with real buttons.
        if (sameRow && buttonAt(option.rect, *item, mouse->position().toPoint()) == pressed)
            press(item, pressed);
        return true;
    }
    default:
        return false;
    }
}

void UploadRowDelegate::press(const ItemPtr& item, Button button)
{
    if (button == Button::Action)
        requestRowAction(this, up_, item, rowAction(*item, up_.isRunning()));
    else
        requestRowRemoval(qobject_cast<QWidget*>(parent()), up_, item);
}

bool UploadRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                  const QModelIndex& index)
{
    if (event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const ItemPtr item = model_.itemAt(index.row());
    if (!item)
        return false;
    switch (buttonAt(option.rect, *item, event->pos())) {
    case Button::Cross:
        QToolTip::showText(event->globalPos(), crossTooltip(*item), view);
        return true;
    case Button::Action:
        QToolTip::hideText();
        return true;
    case Button::None:
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    return false;
}

}  // namespace zafrel::ui
