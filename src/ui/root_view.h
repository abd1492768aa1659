#pragma once
#include <QStackedWidget>
#include <QTimer>

class QLabel;
class QPushButton;

namespace zafrel {
class SessionModel;
class UploadManager;
}  // namespace zafrel

namespace zafrel::ui {

class LoginView;
class MainView;

// What the window shows, following the session: "Conectando…" while the stored session is
// checked (with the next attempt and "Reintentar ahora" while the service cannot be reached), the
// login screen while nobody is signed in, the main window otherwise.
class RootView : public QStackedWidget {
    Q_OBJECT
public:
    RootView(SessionModel& session, UploadManager& up, QWidget* parent = nullptr);

    QWidget* connectingPage() const { return connecting_; }
    QLabel* connectingLabel() const { return connectingLabel_; }
    QLabel* nextCheckLabel() const { return nextCheckLabel_; }
    QPushButton* checkNowButton() const { return checkNow_; }
    LoginView* loginView() const { return login_; }
    MainView* mainView() const { return main_; }

private:
    void evaluate();
    void showOffline();

    SessionModel& session_;
    QWidget* connecting_;
    QLabel* connectingLabel_;
    QLabel* nextCheckLabel_;
    QPushButton* checkNow_;
    QTimer countdown_;
    LoginView* login_;
    MainView* main_;
};

}  // namespace zafrel::ui
