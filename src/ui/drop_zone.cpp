#include "ui/drop_zone.h"

#include "ui/icons.h"
#include "ui/style.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace zafrel::ui {

namespace {
constexpr int kHeight = 190;
constexpr int kSymbolSize = 40;
constexpr qreal kRadius = 14;
constexpr qreal kLineWidth = 2;

bool carriesFiles(const QMimeData* mime)
{
    return mime && mime->hasUrls() && !droppedFileUrls(mime->urls()).isEmpty();
}
}  // namespace

QList<QUrl> droppedFileUrls(const QList<QUrl>& urls)
{
    QList<QUrl> files;
    for (const QUrl& url : urls)
        if (url.isValid() && url.isLocalFile() && !url.toLocalFile().isEmpty())
            files.append(url);
    return files;
}

DropZone::DropZone(QWidget* parent) : QWidget(parent)
{
    setAcceptDrops(true);
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto* column = new QVBoxLayout(this);
    column->setSpacing(10);
    column->addStretch(1);
    symbol_ = new QLabel(this);
    symbol_->setObjectName("dropSymbol");
    symbol_->setFixedSize(kSymbolSize + 8, kSymbolSize + 8);
    symbol_->setAlignment(Qt::AlignCenter);
    column->addWidget(symbol_, 0, Qt::AlignHCenter);

    title_ = new QLabel(this);
    title_->setObjectName("dropTitle");
    title_->setFont(title3Font());
    title_->setAlignment(Qt::AlignCenter);
    column->addWidget(title_, 0, Qt::AlignHCenter);

    auto* hint = new QLabel(QStringLiteral("Se sube todo, en paralelo y verificado. Lo que ya está subido se salta."), this);
    hint->setFont(calloutFont());
    hint->setAlignment(Qt::AlignCenter);
    setTextColor(hint, secondaryColor());
    column->addWidget(hint, 0, Qt::AlignHCenter);

    choose_ = new QPushButton(QStringLiteral("Elegir archivos o carpetas…"), this);
    choose_->setObjectName("chooseFiles");
    giveRoom(choose_);
    column->addWidget(choose_, 0, Qt::AlignHCenter);
    column->addStretch(1);

    connect(choose_, &QPushButton::clicked, this, &DropZone::chooseRequested);
    setNeedsCompany(false);
    updateSymbol();
}

void DropZone::setNeedsCompany(bool needsCompany)
{
    needsCompany_ = needsCompany;
    title_->setText(needsCompany ? QStringLiteral("Elige primero la carpeta de una empresa")
                                 : QStringLiteral("Arrastra aquí la tarjeta o la carpeta del día"));
    choose_->setEnabled(!needsCompany);
}

void DropZone::setDragging(bool dragging)
{
    if (dragging_ == dragging)
        return;
    dragging_ = dragging;
    updateSymbol();
    update();
}

void DropZone::updateSymbol()
{
    symbol_->setPixmap(symbolPixmap(QStringLiteral("tray.and.arrow.up"), dragging_ ? accentColor() : secondaryColor(),
                                    kSymbolSize, devicePixelRatioF()));
}

void DropZone::dragEnterEvent(QDragEnterEvent* event)
{
    if (!carriesFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    // Taken so that the zone lights up and hears the rest of the drag; whether a drop would be
    // welcome is answered on every move.
    setDragging(true);
    if (needsCompany_)
        event->accept();
    else
        event->acceptProposedAction();
}

void DropZone::dragMoveEvent(QDragMoveEvent* event)
{
    if (needsCompany_ || !carriesFiles(event->mimeData()))
        event->ignore();
    else
        event->acceptProposedAction();
}

void DropZone::dragLeaveEvent(QDragLeaveEvent* event)
{
    setDragging(false);
    QWidget::dragLeaveEvent(event);
}

void DropZone::dropEvent(QDropEvent* event)
{
    setDragging(false);
    if (needsCompany_) {
        event->ignore();
        return;
    }
    // The drop's data lives only as long as the event: copy the locations now.
    const QList<QUrl> urls = event->mimeData() ? droppedFileUrls(event->mimeData()->urls()) : QList<QUrl>();
    event->acceptProposedAction();
    emit dropped(urls);
}

void DropZone::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        updateSymbol();
    QWidget::changeEvent(event);
}

void DropZone::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The outline is drawn inside the edge: inset by half the pen width.
    const QRectF box = QRectF(rect()).adjusted(kLineWidth / 2, kLineWidth / 2, -kLineWidth / 2, -kLineWidth / 2);
    QPainterPath shape;
    shape.addRoundedRect(box, kRadius, kRadius);

    QColor fill = dragging_ ? accentColor() : secondaryColor();
    fill.setAlphaF(dragging_ ? 0.12 : 0.06);
    painter.fillPath(shape, fill);

    QColor line = dragging_ ? accentColor() : secondaryColor();
    if (!dragging_)
        line.setAlphaF(0.35);
    QPen pen(line, kLineWidth);
    // Dash lengths are in pen widths: 8 on, 6 off.
    pen.setDashPattern({8 / kLineWidth, 6 / kLineWidth});
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
}

}  // namespace zafrel::ui
