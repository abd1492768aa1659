#include "ui/style.h"

#include "platform/printable.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QWidget>

#include <algorithm>

namespace zafrel::ui {

namespace {

QFont scaled(double factor, QFont::Weight weight)
{
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(qRound(font.pixelSize() * factor));
    font.setWeight(weight);
    return font;
}

bool darkPalette()
{
    return QApplication::palette().color(QPalette::Window).lightness() < 128;
}

}  // namespace

QColor accentColor()
{
    return QApplication::palette().color(QPalette::Active, QPalette::Highlight);
}

QColor secondaryColor()
{
    QColor color = QApplication::palette().color(QPalette::Active, QPalette::WindowText);
    color.setAlphaF(0.6);
    return color;
}

QColor redColor()
{
    return darkPalette() ? QColor(255, 105, 97) : QColor(215, 45, 40);
}

QColor greenColor()
{
    return darkPalette() ? QColor(50, 215, 75) : QColor(36, 150, 60);
}

QColor orangeColor()
{
    return darkPalette() ? QColor(255, 159, 10) : QColor(230, 126, 0);
}

QFont largeTitleFont() { return scaled(2.0, QFont::Bold); }
QFont title3Font() { return scaled(1.35, QFont::Normal); }
QFont headlineFont() { return scaled(1.1, QFont::DemiBold); }
QFont calloutFont() { return scaled(0.95, QFont::Normal); }
QFont captionFont() { return scaled(0.85, QFont::Normal); }

void makeProminent(QPushButton* button)
{
    const QColor accent = accentColor();
    const QColor text = accent.lightness() > 160 ? QColor(Qt::black) : QColor(Qt::white);
    QColor disabled = secondaryColor();
    disabled.setAlphaF(0.25);
    // The keyboard focus: a ring in the text colour, which stands out from the fill and from the
    // window in light and dark themes alike (the style's own ring vanishes on the fill).
    const QColor ring = QApplication::palette().color(QPalette::Active, QPalette::WindowText);
    button->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 5px;"
                                         " padding: 5px 14px; }"
                                         "QPushButton:focus { border: 2px solid %6; padding: 3px 12px; }"
                                         "QPushButton:pressed { background: %3; }"
                                         "QPushButton:disabled { background: %4; color: %5; }")
                              .arg(accent.name(), text.name(), accent.darker(120).name(),
                                   disabled.name(QColor::HexArgb), secondaryColor().name(QColor::HexArgb), ring.name()));
    clickOnReturn(button);
}

void clickOnReturn(QPushButton* button)
{
    // Outside dialogs Qt's buttons take only the space bar; Return on a focused button is what
    // keyboard users press first. (Without a dialog around it no button becomes a default.)
    button->setAutoDefault(true);
}

void giveRoom(QPushButton* button)
{
    const QFontMetrics metrics(button->font());
    const QSize hint = button->sizeHint();
    button->setMinimumSize(std::max(hint.width(), metrics.horizontalAdvance(button->text()) + 28),
                           std::max(hint.height(), metrics.height() + 12));
}

QPushButton* addCancelAndDefault(QDialog* dialog, QBoxLayout* column, const QString& acceptText)
{
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancelar"), dialog);
    auto* accept = new QPushButton(acceptText, dialog);
    accept->setDefault(true);
    for (QPushButton* button : {cancel, accept}) {
        giveRoom(button);
        buttons->addWidget(button);
    }
    column->addLayout(buttons);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return accept;
}

void giveRoom(QLineEdit* field)
{
    const QMargins margins = field->textMargins();
    field->setTextMargins(std::max(margins.left(), 3), std::max(margins.top(), 3), std::max(margins.right(), 3),
                          std::max(margins.bottom(), 3));
}

QString plainToolTip(const QString& text)
{
    if (text.isEmpty())
        return {};
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

void setPlainText(QLabel* label, const QString& text)
{
    label->setTextFormat(Qt::PlainText);
    label->setText(printable(text));
}

void setTextColor(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

QColor textColor(const QWidget* widget)
{
    return widget->palette().color(QPalette::WindowText);
}

}  // namespace zafrel::ui
