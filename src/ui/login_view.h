#pragma once
#include "ui/server_dialog.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace zafrel {
class SessionModel;
}

namespace zafrel::ui {

class Spinner;

// The sign-in screen: logo, title, the service it signs in to with "Servidor…", e-mail and
// password, the "Entrar" button and the session's error text. Shown while nobody is signed in.
class LoginView : public QWidget {
    Q_OBJECT
public:
    explicit LoginView(SessionModel& session, QWidget* parent = nullptr);

    // Back to the screen's initial values: the remembered e-mail, no password, not busy. Called
    // each time the screen is shown anew.
    void reset();

    // Signs in with the two fields exactly as typed. Also reachable with Return in the password
    // field, where it is not subject to the button's enabled state.
    void go();

    bool busy() const { return busy_; }
    QLineEdit* emailField() const { return email_; }
    QLineEdit* passwordField() const { return password_; }
    QPushButton* signInButton() const { return button_; }
    QLabel* errorLabel() const { return error_; }
    // Hidden while the service in use is the program's own.
    QLabel* serverLabel() const { return server_; }
    QPushButton* serverButton() const { return serverButton_; }
    // Opens "Servidor…"; serverDialog() is the sheet while it is open.
    void askServer();
    ServerDialog* serverDialog() const { return serverDialog_; }
    // Null when the program has no logo to show.
    QLabel* logo() const { return logo_; }

private:
    void setBusy(bool busy);
    void updateButton();
    void showError();
    void showServer();

    SessionModel& session_;
    QLabel* logo_ = nullptr;
    QLabel* server_;
    QPushButton* serverButton_;
    QPointer<ServerDialog> serverDialog_;
    QLineEdit* email_;
    QLineEdit* password_;
    QPushButton* button_;
    Spinner* buttonSpinner_;
    QLabel* error_;
    bool busy_ = false;
};

}  // namespace zafrel::ui
