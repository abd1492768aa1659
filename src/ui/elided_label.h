#pragma once
#include <QWidget>

namespace zafrel::ui {

// One line of text that gives up room gracefully: when it does not fit it is shortened with an
// ellipsis where `mode` says (at the start for paths, whose end matters most).
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(Qt::TextElideMode mode = Qt::ElideLeft, QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    // What is painted at the current width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode mode_;
    QString text_;
};

}  // namespace zafrel::ui
