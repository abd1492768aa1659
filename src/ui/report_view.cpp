#include "ui/report_view.h"

#include "platform/format.h"
#include "ui/report_archive.h"
#include "ui/style.h"

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
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
    area_->setAccessibleName(QStringLiteral("Informe de subida"));
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
    auto* saveButton = new QPushButton(QStringLiteral("Guardar informe…"), this);
    saveButton->setObjectName("saveReport");
    saveButton->setAutoDefault(false);
    giveRoom(saveButton);
    row->addWidget(saveButton);
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

    connect(saveButton, &QPushButton::clicked, this, &ReportView::save);
    connect(copyButton, &QPushButton::clicked, this, &ReportView::copy);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
    // The sheet opens on its button, not inside the text, where a blinking caret would sit
    // before the report's first letter.
    closeButton->setFocus();

    setText(text);
}

void ReportView::setText(const QString& text)
{
    if (text == text_ && !area_->toPlainText().isEmpty())
        return;
    text_ = text;
    const int vertical = area_->verticalScrollBar()->value();
    const int horizontal = area_->horizontalScrollBar()->value();
    const QTextCursor old = area_->textCursor();
    const int anchor = old.anchor();
    const int position = old.position();
    area_->setPlainText(readableReport(text));
    // Put a selection back where it was, as far as the new text reaches.
    QTextCursor cursor(area_->document());
    const int end = int(area_->document()->characterCount()) - 1;
    cursor.setPosition(std::min(anchor, end));
    cursor.setPosition(std::min(position, end), QTextCursor::KeepAnchor);
    area_->setTextCursor(cursor);
    area_->verticalScrollBar()->setValue(vertical);
    area_->horizontalScrollBar()->setValue(horizontal);
}

QString readableReport(const QString& text)
{
    QStringList lines = text.split(u'\n');
    for (QString& line : lines) {
        // A file line: state, size in bytes, destination, and in a run's report its MD5 ("-" when
        // not known) and source path, separated by tabs (no field holds one).
        QStringList fields = line.split(u'\t');
        if (fields.size() == 5 && fields[0] == QStringLiteral("Estado")) {
            line = fields.mid(0, 3).join(u'\t');   // the lines below a file's say what they hold
            continue;
        }
        bool number = false;
        const qlonglong bytes = fields.size() >= 3 ? fields[1].toLongLong(&number) : 0;
        if (!number)
            continue;
        // State, size and destination stay in their columns on a sheet narrower than the whole
        // line: an error's words, the source and the MD5 go below, indented, one on each line.
        QStringList below;
        if (fields[0].startsWith(QStringLiteral("ERROR "))) {
            below << fields[0].mid(6);
            fields[0] = QStringLiteral("ERROR");
        }
        if (fields.size() == 5) {
            below << QStringLiteral("desde ") + fields[4];
            if (fields[3] != u'-')
                below << QStringLiteral("MD5 ") + fields[3];
        }
        line = fields[0] + u'\t' + formatByteCount(bytes) + u'\t' + fields[2];
        for (const QString& more : below)
            line += QStringLiteral("\n    ") + more;
    }
    return lines.join(u'\n');
}

bool ReportView::saveTo(const QString& path) const
{
    return writeReportFile(path, text_);
}

void ReportView::save()
{
    QFileDialog dialog(this, QStringLiteral("Guardar informe"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("Texto (*.txt)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.setDirectory(QDir::homePath());
    dialog.selectFile(QStringLiteral("informe-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm"))
                      + QStringLiteral(".txt"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    if (saveTo(path))
        return;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Zafrel"),
                    QStringLiteral("No se pudo guardar el informe en %1.").arg(path), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(QStringLiteral("Elige otra carpeta en la que puedas escribir y vuelve a intentarlo."));
    box.exec();
}

void ReportView::copy()
{
    auto* data = new QMimeData;
    data->setText(text_);
    // setMimeData replaces the whole content: nothing of what was there stays beside the text.
    QGuiApplication::clipboard()->setMimeData(data);
}

}  // namespace zafrel::ui
