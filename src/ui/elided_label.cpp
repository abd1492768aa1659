#include "ui/elided_label.h"

#include "platform/printable.h"
#include "ui/style.h"

#include <QPainter>

namespace zafrel::ui {

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent) : QWidget(parent), mode_(mode)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& given)
{
    // Paths and names shown here come from disks and servers.
    const QString text = printable(given);
    if (text == text_)
        return;
    text_ = text;
    setToolTip(plainToolTip(text));
    // Screen readers fall back to the tooltip, which is markup: they get the text itself.
    setAccessibleDescription(text);
    updateGeometry();
    update();
}

QString ElidedLabel::displayedText() const
{
    return fontMetrics().elidedText(text_, mode_, width());
}

QSize ElidedLabel::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(text_) + 2, fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) * 3, fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, displayedText());
}

}  // namespace zafrel::ui
