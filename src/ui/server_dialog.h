#pragma once
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace zafrel::ui {

// "Servidor…" of the login screen: the company's service to sign in to, the same setting as the
// command line's "--server" ("serverURL"), remembered for the next start. What the typed address
// means shows while typing, in red for a password that would cross the network readable (http://
// to another machine); an empty field goes back to the program's own service.
class ServerDialog : public QDialog {
    Q_OBJECT
public:
    explicit ServerDialog(QWidget* parent = nullptr);

    QLineEdit* field() const { return field_; }
    QLabel* meaningLabel() const { return meaning_; }
    QPushButton* saveButton() const { return save_; }

private:
    // The typed origin without blanks and trailing slashes, or empty for the program's own.
    QString typed() const;
    bool usable() const;
    void showMeaning();

    QLineEdit* field_;
    QLabel* meaning_;
    QPushButton* save_;
};

}  // namespace zafrel::ui
