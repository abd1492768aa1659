#pragma once
#include <QList>
#include <QUrl>
#include <QWidget>

class QLabel;
class QPushButton;

namespace zafrel::ui {

// The area onto which the crew drops a camera card or the day's folder, with the button that
// opens the file chooser instead. Tall while the queue is empty, a low bar beside a queue. Drags carrying files light it up; while no company folder is
// chosen (needsCompany) drops are refused and the button is off.
class DropZone : public QWidget {
    Q_OBJECT
public:
    explicit DropZone(QWidget* parent = nullptr);

    void setNeedsCompany(bool needsCompany);
    bool needsCompany() const { return needsCompany_; }
    // A low bar instead of the tall area, once the queue needs the room; still a drop target
    // with its button.
    void setCompact(bool compact);
    bool compact() const { return compact_; }
    // A drag carrying files is over the zone.
    bool dragging() const { return dragging_; }

    QLabel* titleLabel() const { return title_; }
    QPushButton* chooseButton() const { return choose_; }

signals:
    // The local files and folders of an accepted drop, in drop order.
    void dropped(const QList<QUrl>& urls);
    void chooseRequested();

protected:
    // The main window hands on drags over the rest of it (called directly, not sent: a drag the
    // zone refuses would travel back up to the window).
    friend class MainView;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void setDragging(bool dragging);
    void updateSymbol();
    void updateTitle();

    QWidget* tall_;
    QWidget* bar_;
    QLabel* symbol_;
    QLabel* barSymbol_;
    QLabel* title_;
    QLabel* hint_;
    QPushButton* choose_;
    bool needsCompany_ = false;
    bool dragging_ = false;
    bool compact_ = false;
};

// The file locations carried by a drag, in drag order; anything that is not a local file is left out.
QList<QUrl> droppedFileUrls(const QList<QUrl>& urls);

}  // namespace zafrel::ui
