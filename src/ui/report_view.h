#pragma once
#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace zafrel::ui {

// The upload report sheet: the plain-text report, selectable, with "Copiar" and "Cerrar".
class ReportView : public QDialog {
    Q_OBJECT
public:
    explicit ReportView(const QString& text, QWidget* parent = nullptr);

    QString text() const { return text_; }
    // Shows a newer report, keeping the reader's place.
    void setText(const QString& text);

    // Puts exactly the report on the clipboard as plain text, replacing whatever was there.
    void copy();

    QPlainTextEdit* textArea() const { return area_; }

private:
    QString text_;
    QPlainTextEdit* area_;
};

}  // namespace zafrel::ui
