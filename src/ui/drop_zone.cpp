#include "ui/drop_zone.h"

#include "ui/icons.h"
#include "ui/style.h"

#include <QDragEnterEvent>
#include <QHBoxLayout>
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
constexpr int kBarHeight = 48;
constexpr int kSymbolSize = 40;
constexpr int kBarSymbolSize = 20;
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
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);

    tall_ = new QWidget(this);
    auto* column = new QVBoxLayout(tall_);
    column->setSpacing(10);
    column->addStretch(1);
    symbol_ = new QLabel(tall_);
    symbol_->setObjectName("dropSymbol");
    symbol_->setFixedSize(kSymbolSize + 8, kSymbolSize + 8);
    symbol_->setAlignment(Qt::AlignCenter);
    column->addWidget(symbol_, 0, Qt::AlignHCenter);

    title_ = new QLabel(tall_);
    title_->setObjectName("dropTitle");
    title_->setFont(title3Font());
    title_->setAlignment(Qt::AlignCenter);
    column->addWidget(title_, 0, Qt::AlignHCenter);

    hint_ = new QLabel(QStringLiteral("Se sube todo, en paralelo y verificado. Lo que ya está subido se salta."), tall_);
    hint_->setFont(calloutFont());
    hint_->setAlignment(Qt::AlignCenter);
    setTextColor(hint_, secondaryColor());
    column->addWidget(hint_, 0, Qt::AlignHCenter);

    choose_ = new QPushButton(QStringLiteral("Elegir archivos o carpetas…"), tall_);
    choose_->setObjectName("chooseFiles");
    giveRoom(choose_);
    column->addWidget(choose_, 0, Qt::AlignHCenter);
    column->addStretch(1);
    stack->addWidget(tall_);

    // The bar: symbol, the same invitation, the same button, on one line.
    bar_ = new QWidget(this);
    auto* row = new QHBoxLayout(bar_);
    row->setContentsMargins(14, 0, 10, 0);
    row->setSpacing(10);
    barSymbol_ = new QLabel(bar_);
    barSymbol_->setFixedSize(kBarSymbolSize, kBarSymbolSize);
    row->addWidget(barSymbol_);
    row->addStretch(1);
    stack->addWidget(bar_);
    bar_->hide();

    connect(choose_, &QPushButton::clicked, this, &DropZone::chooseRequested);
    setNeedsCompany(false);
    updateSymbol();
}

void DropZone::setNeedsCompany(bool needsCompany)
{
    needsCompany_ = needsCompany;
    updateTitle();
    choose_->setEnabled(!needsCompany);
}

void DropZone::updateTitle()
{
    if (needsCompany_)
        title_->setText(QStringLiteral("Elige primero la carpeta de una empresa"));
    else
        title_->setText(compact_ ? QStringLiteral("Arrastra aquí más archivos o carpetas")
                                 : QStringLiteral("Arrastra aquí la tarjeta o la carpeta del día"));
}

void DropZone::setCompact(bool compact)
{
    if (compact_ == compact)
        return;
    compact_ = compact;
    // The title and the button move between the two arrangements, so each exists once.
    auto* column = static_cast<QVBoxLayout*>(tall_->layout());
    auto* row = static_cast<QHBoxLayout*>(bar_->layout());
    if (compact) {
        title_->setParent(bar_);
        choose_->setParent(bar_);
        title_->setFont(calloutFont());
        title_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        row->insertWidget(1, title_, 1);
        row->insertWidget(3, choose_);
    } else {
        title_->setParent(tall_);
        choose_->setParent(tall_);
        title_->setFont(title3Font());
        title_->setAlignment(Qt::AlignCenter);
        column->insertWidget(2, title_, 0, Qt::AlignHCenter);
        column->insertWidget(4, choose_, 0, Qt::AlignHCenter);
    }
    title_->show();
    choose_->show();
    tall_->setVisible(!compact);
    bar_->setVisible(compact);
    setFixedHeight(compact ? kBarHeight : kHeight);
    updateTitle();
    update();
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
    const QColor color = dragging_ ? accentColor() : secondaryColor();
    symbol_->setPixmap(symbolPixmap(QStringLiteral("tray.and.arrow.up"), color, kSymbolSize, devicePixelRatioF()));
    barSymbol_->setPixmap(symbolPixmap(QStringLiteral("tray.and.arrow.up"), color, kBarSymbolSize, devicePixelRatioF()));
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
    const qreal radius = compact_ ? kRadius / 2 : kRadius;
    shape.addRoundedRect(box, radius, radius);

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
