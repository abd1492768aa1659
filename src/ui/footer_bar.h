#pragma once
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QPushButton;

namespace zafrel {
class UploadManager;
}

namespace zafrel::ui {

class ElidedLabel;
class Spinner;

// The bottom line of the main window: the state of the run with its totals, the route, and the
// engine's controls.
class FooterBar : public QWidget {
    Q_OBJECT
public:
    explicit FooterBar(UploadManager& up, QWidget* parent = nullptr);

    // Reads the engine and its summary again.
    void refresh();

    ElidedLabel* stateLabel() const { return state_; }
    // The symbol before the totals; its "symbol" property names it ("" while hidden).
    QLabel* stateSymbol() const { return symbol_; }
    ElidedLabel* routeLabel() const { return route_; }
    Spinner* spinner() const { return spinner_; }
    QPushButton* resumeButton() const { return resume_; }
    QPushButton* cancelAllButton() const { return cancelAll_; }
    QPushButton* reportButton() const { return report_; }
    QPushButton* clearButton() const { return clear_; }

signals:
    void reportRequested();

private:
    UploadManager& up_;
    Spinner* spinner_;
    QLabel* symbol_;
    ElidedLabel* state_;
    ElidedLabel* route_;
    QPushButton* resume_;
    QPushButton* cancelAll_;
    QPushButton* report_;
    QPushButton* clear_;
};

}  // namespace zafrel::ui
