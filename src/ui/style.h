#pragma once
// The few colours and text styles the screens share, taken from the application palette so that
// light and dark desktop themes both read well.
#include <QColor>
#include <QFont>

class QBoxLayout;
class QDialog;
class QLabel;
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

// Return on the focused button clicks it, as the space bar does (for buttons outside dialogs).
void clickOnReturn(QPushButton* button);

// Room around a button's text and a field's text. Some desktop styles (Fusion among them) draw
// buttons hugging their label and fields barely taller than the text; these only ever raise the
// minimum size, so styles that are already generous keep their own look.
void giveRoom(QPushButton* button);
void giveRoom(QLineEdit* field);

// A dialog's closing row, at the end of `column`: "Cancelar" (rejects the dialog) and, right of
// it, the default button `acceptText`, which is returned for the dialog to connect.
QPushButton* addCancelAndDefault(QDialog* dialog, QBoxLayout* column, const QString& acceptText);

// A tooltip that shows `text` exactly as it is, never as markup (file names and service texts may
// hold "<"); empty text gives no tooltip. Text from outside is passed through printable() first.
QString plainToolTip(const QString& text);
// Sets `label` to show `text` from outside (a service's words, a file name) as written: never as
// markup (an "<h1>" stays those four characters and does not grow the label), and without
// control characters (printable()).
void setPlainText(QLabel* label, const QString& text);

// Sets the text colour of a label-like widget.
void setTextColor(QWidget* widget, const QColor& color);
QColor textColor(const QWidget* widget);

}  // namespace zafrel::ui
