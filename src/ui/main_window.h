#pragma once
#include <QMainWindow>

#include <functional>

namespace zafrel::ui {

// The program's one window: its own icon, the size and place it had last time, and a question
// before it closes while files are under way (asked by `guard`, see MainView::allowClose).
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    using CloseGuard = std::function<bool(std::function<void()> closeAnyway)>;

    MainWindow();
    void setCloseGuard(CloseGuard guard) { guard_ = std::move(guard); }

    // Stores the size and place in the user defaults ("windowGeometry").
    void rememberGeometry() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CloseGuard guard_;
    bool closeAgreed_ = false;
};

}  // namespace zafrel::ui
