#include "ui/spinner.h"

#include "ui/style.h"

#include <QPainter>
#include <QTimerEvent>

namespace zafrel::ui {

namespace {
constexpr int kSpokes = 12;
}

Spinner::Spinner(int diameter, QWidget* parent) : QWidget(parent), diameter_(diameter)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QSize Spinner::sizeHint() const
{
    return {diameter_, diameter_};
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal side = std::min(box.width(), box.height());
    painter.translate(box.center());
    const qreal outer = side / 2;
    const qreal inner = outer * 0.45;
    QColor color = palette().color(QPalette::WindowText);
    QPen pen;
    pen.setWidthF(std::max(1.5, side / 10));
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the current step is darkest; the ones behind it fade out.
        const int age = (step_ - i + kSpokes) % kSpokes;
        color.setAlphaF(0.15 + 0.75 * (1.0 - double(age) / kSpokes));
        pen.setColor(color);
        painter.setPen(pen);
        painter.save();
        painter.rotate(i * 360.0 / kSpokes);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer + pen.widthF() / 2));
        painter.restore();
    }
}

void Spinner::showEvent(QShowEvent*)
{
    timer_.start(80, this);
}

void Spinner::hideEvent(QHideEvent*)
{
    timer_.stop();
}

void Spinner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != timer_.timerId())
        return QWidget::timerEvent(event);
    step_ = (step_ + 1) % kSpokes;
    update();
}

}  // namespace zafrel::ui
