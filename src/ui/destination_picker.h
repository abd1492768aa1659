#pragma once
#include "client/records.h"

#include <QDialog>
#include <QString>

#include <optional>
#include <vector>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace zafrel {
class ZafrelAPI;
}

namespace zafrel::ui {

class Spinner;

// The sheet in which the destination folder is browsed, created and chosen. It opens on `path`
// and ends with chosen() only through "Usar esta carpeta". By keyboard: the arrows move the marked
// folder, Return enters it and Backspace goes up one level.
class DestinationPicker : public QDialog {
    Q_OBJECT
public:
    DestinationPicker(ZafrelAPI& api, QString path, bool isAdmin, QWidget* parent = nullptr);

    // Browses a folder ("" for the top level, else ending with "/"). Returns at once.
    void load(const QString& folder);
    // Creates the typed folder inside the current one, then browses into it. Returns at once.
    void create();
    // Browses the folder above the current one; nothing at the top level.
    void goUp();

    QString current() const { return current_; }
    const std::vector<Folder>& folders() const { return folders_; }
    bool loading() const { return loading_; }
    const std::optional<QString>& error() const { return error_; }

    // The breadcrumb buttons, "Raíz" first.
    QList<QPushButton*> breadcrumbButtons() const;
    QListWidget* folderList() const { return list_; }
    QLineEdit* newNameField() const { return newName_; }
    QPushButton* createButton() const { return createButton_; }
    QPushButton* useButton() const { return useButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QLabel* errorLabel() const { return errorLabel_; }
    QLabel* emptyLabel() const { return empty_; }

signals:
    // "Usar esta carpeta": the folder as the service reported it.
    void chosen(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showListing();
    void showBreadcrumbs();
    void showState();
    void setError(std::optional<QString> error);

    ZafrelAPI& api_;
    const bool isAdmin_;
    QString current_;
    std::vector<Folder> folders_;
    bool loading_ = false;
    std::optional<QString> error_;
    // The folder just left by going up, marked in the listing of its parent.
    QString cameFrom_;

    QHBoxLayout* crumbs_;
    QListWidget* list_;
    Spinner* spinner_;
    QLabel* empty_;
    QLineEdit* newName_;
    QPushButton* createButton_;
    QLabel* errorLabel_;
    QPushButton* cancelButton_;
    QPushButton* useButton_;
};

// A new folder's name without the blanks around it: tabs and the Unicode space separators are
// removed from both ends; line breaks are not blanks here.
QString trimFolderName(const QString& name);

}  // namespace zafrel::ui
