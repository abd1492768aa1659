#pragma once
#include <QStackedWidget>

namespace zafrel {
class SessionModel;
class UploadManager;
}  // namespace zafrel

namespace zafrel::ui {

class LoginView;
class MainView;

// What the window shows, following the session: "Conectando…" while the stored session is
// checked, the login screen while nobody is signed in, the main window otherwise.
class RootView : public QStackedWidget {
    Q_OBJECT
public:
    RootView(SessionModel& session, UploadManager& up, QWidget* parent = nullptr);

    QWidget* connectingPage() const { return connecting_; }
    LoginView* loginView() const { return login_; }
    MainView* mainView() const { return main_; }

private:
    void evaluate();

    SessionModel& session_;
    QWidget* connecting_;
    LoginView* login_;
    MainView* main_;
};

}  // namespace zafrel::ui
