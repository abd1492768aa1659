#include "ui/report_view.h"

#include "ui/style.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

namespace zafrel::ui {

ReportView::ReportView(const QString& text, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Informe de subida"));
    setFixedWidth(560);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(10);

    auto* title = new QLabel(QStringLiteral("Informe de subida"), this);
    title->setFont(headlineFont());
    column->addWidget(title);

    area_ = new QPlainTextEdit(this);
    area_->setObjectName("reportText");
    area_->setReadOnly(true);
    area_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // The area scrolls only vertically: a line longer than the sheet is wide (a long error, a
    // deep path) continues on the next one instead of hiding behind a horizontal scroll.
    area_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    area_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(captionFont().pointSizeF() > 0 ? captionFont().pointSizeF() : mono.pointSizeF());
    area_->setFont(mono);
    // The item lines separate state, size and path with tabs. Stops every sixteen characters put
    // the sizes and the paths of all but error lines in two straight columns (a state word and a
    // byte count each fit in one stop).
    area_->setTabStopDistance(16 * QFontMetricsF(mono).horizontalAdvance(QLatin1Char(' ')));
    area_->setFixedHeight(300);
    area_->setFrameShape(QFrame::NoFrame);
    area_->document()->setDocumentMargin(8);
    QColor background = secondaryColor();
    background.setAlphaF(0.08);
    area_->setStyleSheet(QStringLiteral("QPlainTextEdit { background: %1; border-radius: 8px; }")
                             .arg(background.name(QColor::HexArgb)));
    column->addWidget(area_);

    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* copyButton = new QPushButton(QStringLiteral("Copiar"), this);
    copyButton->setObjectName("copyReport");
    copyButton->setAutoDefault(false);
    auto* closeButton = new QPushButton(QStringLiteral("Cerrar"), this);
    closeButton->setObjectName("closeReport");
    closeButton->setDefault(true);
    makeProminent(closeButton);
    giveRoom(copyButton);
    giveRoom(closeButton);
    row->addWidget(copyButton);
    row->addWidget(closeButton);
    column->addLayout(row);

    connect(copyButton, &QPushButton::clicked, this, &ReportView::copy);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
    // The sheet opens on its button, not inside the text, where a blinking caret would sit
    // before the report's first letter.
    closeButton->setFocus();

    setText(text);
}

void ReportView::setText(const QString& text)
{
    if (text == text_ && area_->toPlainText() == text)
        return;
    text_ = text;
    const int vertical = area_->verticalScrollBar()->value();
    const int horizontal = area_->horizontalScrollBar()->value();
    const QTextCursor old = area_->textCursor();
    const int anchor = old.anchor();
    const int position = old.position();
    area_->setPlainText(text);
    // Put a selection back where it was, as far as the new text reaches.
    QTextCursor cursor(area_->document());
    const int end = int(text.size());
    cursor.setPosition(std::min(anchor, end));
    cursor.setPosition(std::min(position, end), QTextCursor::KeepAnchor);
    area_->setTextCursor(cursor);
    area_->verticalScrollBar()->setValue(vertical);
    area_->horizontalScrollBar()->setValue(horizontal);
}

void ReportView::copy()
{
    auto* data = new QMimeData;
    data->setText(text_);
    // setMimeData replaces the whole content: nothing of what was there stays beside the text.
    QGuiApplication::clipboard()->setMimeData(data);
}

}  // namespace zafrel::ui
