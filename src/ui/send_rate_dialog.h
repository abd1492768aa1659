#pragma once
#include <QDialog>

#include <cstdint>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace zafrel::ui {

// "Límite de velocidad": the cap typed as the command line takes it ("50M", "800K"; empty for
// none). What it means shows while typing, in MB/s and Mbit/s (how links are sold); a text that is
// no rate is said there and "Aplicar" waits, so a mistyped value is never lost with the sheet.
class SendRateDialog : public QDialog {
    Q_OBJECT
public:
    SendRateDialog(const QString& current, QWidget* parent = nullptr);

    // The typed cap in bytes per second (0: none), or nothing while the text is no rate.
    std::optional<int64_t> rate() const;
    QLineEdit* field() const { return field_; }
    QLabel* meaningLabel() const { return meaning_; }
    QPushButton* applyButton() const { return apply_; }

signals:
    void applied(int64_t bytesPerSecond);

private:
    void showMeaning();

    QLineEdit* field_;
    QLabel* meaning_;
    QPushButton* apply_;
};

// "50 MB/s · 400 Mbit/s"; "Sin límite" for 0.
QString sendRateMeaning(int64_t bytesPerSecond);

}  // namespace zafrel::ui
