#include "ui/plain_text.h"

#include "platform/printable.h"

#include <QLabel>
#include <QTextDocument>

namespace zafrel::ui {

void setPlainText(QLabel* label, const QString& text)
{
    label->setTextFormat(Qt::PlainText);
    label->setText(printable(text));
}

QString plainToolTip(const QString& text)
{
    if (text.isEmpty())
        return text;   // no tooltip at all
    return Qt::convertFromPlainText(printable(text), Qt::WhiteSpaceNoWrap);
}

}  // namespace zafrel::ui
