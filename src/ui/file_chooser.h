#pragma once
#include <QFileDialog>
#include <QList>
#include <QUrl>

class QPushButton;

namespace zafrel::ui {

// A chooser in which files and folders can be picked together, several at once. Only "Subir" sends
// what is picked: Return enters a folder (typed, also with the name completer's list open, or the
// focused row) and on files it hands the keyboard to "Subir", because a card's worth of files
// queued by a keystroke meant to open a folder is hard to take back. A folder is listed as the
// queue will take it (ChooserListing). Its sidebar lists the home folder and the mounted volumes
// (cards, disks) with their whole names. The desktop's own dialogs allow either files or
// folders, never both, so this is Qt's own dialog with its lists opened up to mixed selections.
class FileChooser : public QFileDialog {
    Q_OBJECT
public:
    explicit FileChooser(QWidget* parent = nullptr);

    // What the user confirmed, in the order the chooser lists them.
    QList<QUrl> chosenUrls() const { return chosen_; }

public slots:
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Return in the name field or a list: a folder is entered, files are left picked for "Subir".
    void returnPressedIn(QObject* source);
    bool enterFolder(QObject* source);
    QPushButton* confirmButton() const;
    void openUpViews();
    void keepConfirmButton();
    QList<QUrl> selectedInView() const;
    void fitSidebar();

    QList<QUrl> chosen_;
    bool sidebarFitted_ = false;
};

// The home folder, then every folder mounted below each of `roots` (by default /media/$USER and
// /run/media/$USER, where desktops mount cards and disks), in name order.
QList<QUrl> chooserSidebar(const QStringList& roots = {});

}  // namespace zafrel::ui
