#pragma once
#include <QFileDialog>
#include <QList>
#include <QUrl>

namespace zafrel::ui {

// A chooser in which files and folders can be picked together, several at once, confirmed with
// "Subir" (and Return on files; Return on a folder enters it, as in every file dialog). Its
// sidebar lists the home folder and the mounted volumes (cards, disks). The desktop's own dialogs allow either files or folders, never both, so this is Qt's
// own dialog with its lists opened up to mixed selections.
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

private:
    // Return on a folder (typed, or the focused row) goes into it instead of choosing it.
    bool enterFolder(QObject* source);
    void openUpViews();
    void keepConfirmButton();
    QList<QUrl> selectedInView() const;

    QList<QUrl> chosen_;
};

// The home folder, then every folder mounted below each of `roots` (by default /media/$USER and
// /run/media/$USER, where desktops mount cards and disks), in name order.
QList<QUrl> chooserSidebar(const QStringList& roots = {});

}  // namespace zafrel::ui
