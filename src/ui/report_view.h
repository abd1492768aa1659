#pragma once
#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace zafrel::ui {

// The upload report sheet: the report, selectable, its byte counts shown readably ("104.9 MB"),
// with "Guardar informe…", "Copiar" (the exact text) and "Cerrar".
class ReportView : public QDialog {
    Q_OBJECT
public:
    explicit ReportView(const QString& text, QWidget* parent = nullptr);

    QString text() const { return text_; }
    // Shows a newer report, keeping the reader's place.
    void setText(const QString& text);

    // Puts exactly the report on the clipboard as plain text, replacing whatever was there.
    void copy();
    // Writes exactly the report to `path`; false when it could not.
    bool saveTo(const QString& path) const;
    // "Guardar informe…": asks where, then saves; says so when it cannot.
    void save();

    QPlainTextEdit* textArea() const { return area_; }

private:
    QString text_;
    QPlainTextEdit* area_;
};

// The report as the sheet shows it: the byte count of each file line written for people, and an
// error's words, a run's source path and MD5 on indented lines below their file's.
QString readableReport(const QString& text);

}  // namespace zafrel::ui
