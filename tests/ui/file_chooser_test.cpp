// The chooser of files and folders: both kinds can be picked together, in the listed order, and
// the confirm button stays "Subir".
#include "ui/file_chooser.h"
#include "ui/translations.h"

#include "support/test_env.h"
#include "support/ui_test_helpers.h"

#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSortFilterProxyModel>

#include <gtest/gtest.h>

namespace zafrel::ui {
namespace {

class FileChooserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = test::sandboxDir() + "/chooser";
        test::makeFile(dir + "/A.MXF");
        test::makeFile(dir + "/B.MXF");
        test::makeFile(dir + "/CLIPS/C0001.MXF");
        // Made after the files: the dialog's file-system model reads folders as it first sees them.
        owner = std::make_unique<FileChooser>();
        owner->setDirectory(dir);
        owner->show();
        list = chooser().findChild<QListView*>("listView");
        ASSERT_NE(list, nullptr);
        // The file system is read in the background; wait for the three entries.
        ASSERT_TRUE(test::runUntil([&] { return list->model()->rowCount(list->rootIndex()) == 3; }));
    }

    QModelIndex entry(const QString& name)
    {
        const QModelIndex root = list->rootIndex();
        for (int row = 0; row < list->model()->rowCount(root); ++row) {
            const QModelIndex index = list->model()->index(row, 0, root);
            if (index.data().toString() == name)
                return index;
        }
        return {};
    }

    void select(const QStringList& names)
    {
        for (const QString& name : names) {
            const QModelIndex index = entry(name);
            ASSERT_TRUE(index.isValid()) << name.toStdString();
            list->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    QPushButton* confirm()
    {
        auto* box = chooser().findChild<QDialogButtonBox*>("buttonBox");
        return box ? box->button(QDialogButtonBox::Open) : nullptr;
    }

    FileChooser& chooser() { return *owner; }

    QString dir;
    std::unique_ptr<FileChooser> owner;
    QListView* list = nullptr;
};

TEST_F(FileChooserTest, FolderAndFilesTogetherInListedOrder)
{
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    // Picked in another order than they are listed: the list's order wins.
    select({"B.MXF", "CLIPS", "A.MXF"});
    test::settle();
    ASSERT_NE(confirm(), nullptr);
    EXPECT_EQ(confirm()->text(), "Subir");
    EXPECT_TRUE(confirm()->isEnabled());
    confirm()->click();
    EXPECT_EQ(chooser().result(), QDialog::Accepted);
    // Folders are listed first.
    EXPECT_EQ(chooser().chosenUrls(), (QList<QUrl>{QUrl::fromLocalFile(dir + "/CLIPS"), QUrl::fromLocalFile(dir + "/A.MXF"),
                                                QUrl::fromLocalFile(dir + "/B.MXF")}));
}

TEST_F(FileChooserTest, AFolderAloneCanBeChosen)
{
    select({"CLIPS"});
    test::settle();
    EXPECT_EQ(confirm()->text(), "Subir");
    EXPECT_TRUE(confirm()->isEnabled());
    chooser().accept();
    EXPECT_EQ(chooser().result(), QDialog::Accepted);
    EXPECT_EQ(chooser().chosenUrls(), QList<QUrl>{QUrl::fromLocalFile(dir + "/CLIPS")});
}

TEST_F(FileChooserTest, ReturnOnAFolderEntersItInsteadOfUploadingIt)
{
    const auto pressReturn = [](QWidget* target) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(target, &press);
    };
    // The folder's name typed (the list then marks it), then Return.
    auto* edit = chooser().findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->setText("CLIPS");
    test::settle();
    pressReturn(edit);
    EXPECT_TRUE(chooser().isVisible());
    EXPECT_NE(chooser().result(), QDialog::Accepted);
    EXPECT_EQ(chooser().directory().absolutePath(), dir + "/CLIPS");
    EXPECT_TRUE(chooser().chosenUrls().isEmpty());

    // Return on the focused folder row of the list goes in too.
    chooser().setDirectory(dir);
    ASSERT_TRUE(test::runUntil([&] { return entry("CLIPS").isValid(); }));
    list->setCurrentIndex(entry("CLIPS"));
    pressReturn(list);
    EXPECT_EQ(chooser().directory().absolutePath(), dir + "/CLIPS");
    EXPECT_NE(chooser().result(), QDialog::Accepted);
}

TEST_F(FileChooserTest, SpeaksSpanishAndListsMountedVolumes)
{
    installSpanishTranslations();
    FileChooser fresh;
    auto* cancel = fresh.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Cancel);
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->text(), "Cancelar");
    auto* lookIn = fresh.findChild<QLabel*>("lookInLabel");
    ASSERT_NE(lookIn, nullptr);
    EXPECT_NE(lookIn->text(), "Look in:");

    const QString media = test::sandboxDir() + "/media";
    QDir().mkpath(media + "/ana/TARJETA_B");
    QDir().mkpath(media + "/ana/TARJETA_A");
    EXPECT_EQ(chooserSidebar({media + "/ana", media + "/nadie"}),
              (QList<QUrl>{QUrl::fromLocalFile(QDir::homePath()), QUrl::fromLocalFile(media + "/ana/TARJETA_A"),
                           QUrl::fromLocalFile(media + "/ana/TARJETA_B")}));
}

TEST_F(FileChooserTest, CancellingChoosesNothing)
{
    select({"A.MXF"});
    chooser().reject();
    EXPECT_EQ(chooser().result(), QDialog::Rejected);
    EXPECT_TRUE(chooser().chosenUrls().isEmpty());
}

}  // namespace
}  // namespace zafrel::ui
