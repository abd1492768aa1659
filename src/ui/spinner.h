#pragma once
#include <QBasicTimer>
#include <QWidget>

namespace zafrel::ui {

// A small spinning progress indicator. It only animates while it is visible.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(int diameter = 16, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    int diameter_;
    int step_ = 0;
    QBasicTimer timer_;
};

}  // namespace zafrel::ui
