#pragma once
#include <QString>

class QLabel;

namespace zafrel::ui {

// Texts from the service and names from disks are shown exactly as written: never read as rich
// text (an "<h1>" in an error message stays those four characters and does not grow the label)
// and without control characters (see printable()).

// Sets `label` to show `text` that way.
void setPlainText(QLabel* label, const QString& text);
// A tooltip that shows `text` that way. A tooltip has no text format of its own: it is read as
// rich text whenever it looks like some, so the text is handed over already escaped.
QString plainToolTip(const QString& text);

}  // namespace zafrel::ui
