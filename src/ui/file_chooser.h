#pragma once
#include <QFileDialog>
#include <QList>
#include <QUrl>

namespace zafrel::ui {

// A chooser in which files and folders can be picked together, several at once, confirmed with
// "Subir". The desktop's own dialogs allow either files or folders, never both, so this is Qt's
// own dialog with its lists opened up to mixed selections.
class FileChooser : public QFileDialog {
    Q_OBJECT
public:
    explicit FileChooser(QWidget* parent = nullptr);

    // What the user confirmed, in the order the chooser lists them.
    QList<QUrl> chosenUrls() const { return chosen_; }

public slots:
    void accept() override;

private:
    void openUpViews();
    void keepConfirmButton();
    QList<QUrl> selectedInView() const;

    QList<QUrl> chosen_;
};

}  // namespace zafrel::ui
