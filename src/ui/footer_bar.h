#pragma once
#include <QWidget>

#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace zafrel {
class UploadManager;
struct RunProgress;
}

namespace zafrel::ui {

class ElidedLabel;
class Spinner;

// The bottom of the main window: the whole run's progress while it goes on (a bar, files and
// bytes done of the total, speed, time left, how many upload and wait), how it ended once it is
// over, the route, and the engine's controls. The buttons only ask: the main window confirms and
// acts.
class FooterBar : public QWidget {
    Q_OBJECT
public:
    explicit FooterBar(UploadManager& up, QWidget* parent = nullptr);

    // While a run goes on.
    void showRunning(const RunProgress& progress, std::optional<double> secondsLeft);
    // Otherwise: the totals of the queue, or "Sin subidas".
    void showIdle();

    ElidedLabel* stateLabel() const { return state_; }
    // The line under the state: "2 subiendo · 51 en cola" and the route.
    ElidedLabel* detailLabel() const { return detail_; }
    // The symbol before the totals; its "symbol" property names it ("" while hidden).
    QLabel* stateSymbol() const { return symbol_; }
    QProgressBar* progressBar() const { return bar_; }
    Spinner* spinner() const { return spinner_; }
    QPushButton* retryFailedButton() const { return retryFailed_; }
    QPushButton* pauseAllButton() const { return pauseAll_; }
    // "Límite: 5 MB/s" while a cap on the upload speed is on.
    QLabel* sendRateMark() const { return rateMark_; }
    QPushButton* cancelAllButton() const { return cancelAll_; }
    QPushButton* reportButton() const { return report_; }
    QPushButton* clearButton() const { return clear_; }
    // What could not be saved (settings, queue), hidden while nothing failed.
    QLabel* noticeLabel() const { return notice_; }

signals:
    void reportRequested();
    void cancelAllRequested();
    void clearRequested();
    void retryFailedRequested();

private:
    void showSymbol(const QString& symbol, const QColor& color);
    void showDetail(const QString& counts);
    void showRateMark();

    UploadManager& up_;
    QProgressBar* bar_;
    Spinner* spinner_;
    QLabel* symbol_;
    ElidedLabel* state_;
    ElidedLabel* detail_;
    QLabel* notice_;
    QPushButton* retryFailed_;
    QPushButton* pauseAll_;
    QLabel* rateMark_;
    QPushButton* cancelAll_;
    QPushButton* report_;
    QPushButton* clear_;
};

}  // namespace zafrel::ui
