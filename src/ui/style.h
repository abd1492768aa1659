#pragma once
// The few colours and text styles the screens share, taken from the application palette so that
// light and dark desktop themes both read well.
#include <QColor>
#include <QFont>

class QLineEdit;
class QPushButton;
class QWidget;

namespace zafrel::ui {

QColor accentColor();
QColor secondaryColor();   // the text colour, softened
QColor redColor();
QColor greenColor();
QColor orangeColor();

// Text styles relative to the application font.
QFont largeTitleFont();
QFont title3Font();
QFont headlineFont();
QFont calloutFont();
QFont captionFont();

// The prominent look of a window's main action: filled with the accent colour.
void makeProminent(QPushButton* button);

// Room around a button's text and a field's text. Some desktop styles (Fusion among them) draw
// buttons hugging their label and fields barely taller than the text; these only ever raise the
// minimum size, so styles that are already generous keep their own look.
void giveRoom(QPushButton* button);
void giveRoom(QLineEdit* field);

// A tooltip that shows `text` exactly as it is, never as markup (file names and service texts may
// hold "<"); empty text gives no tooltip.
QString plainToolTip(const QString& text);

// Sets the text colour of a label-like widget.
void setTextColor(QWidget* widget, const QColor& color);
QColor textColor(const QWidget* widget);

}  // namespace zafrel::ui
