#include "ui/file_chooser.h"

#include "ui/chooser_listing.h"

#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QHeaderView>
#include <QTreeView>

#include <algorithm>

namespace zafrel::ui {

FileChooser::FileChooser(QWidget* parent) : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog, true);
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setLabelText(QFileDialog::Accept, QStringLiteral("Subir"));
    setWindowTitle(QStringLiteral("Elegir archivos o carpetas"));
    setDirectory(QDir::home());
    setSidebarUrls(chooserSidebar());
    // Places added while the chooser is open get the room too.
    if (auto* sidebar = findChild<QListView*>(QStringLiteral("sidebar")); sidebar && sidebar->model())
        connect(sidebar->model(), &QAbstractItemModel::rowsInserted, this, [this] {
            if (sidebarFitted_)
                QTimer::singleShot(0, this, &FileChooser::fitSidebar);
        });
    auto* listing = new ChooserListing(this);
    setProxyModel(listing);
    listing->sort(0, Qt::AscendingOrder);
    openUpViews();
    // Long clip names and sizes need the room; the type column says nothing a crew needs.
    resize(860, 540);
    if (auto* details = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        header->setSectionResizeMode(1, QHeaderView::ResizeToContents);
        header->setSectionResizeMode(3, QHeaderView::ResizeToContents);
        header->hideSection(2);
    }
}

void FileChooser::showEvent(QShowEvent* event)
{
    QFileDialog::showEvent(event);
    if (!sidebarFitted_)
        fitSidebar();
    sidebarFitted_ = true;
}

void FileChooser::fitSidebar()
{
    // Cards are told apart by their names ("A001_CAM_A", "A001_CAM_B"): the sidebar is as wide as
    // its longest one, up to a third of the dialog.
    auto* sidebar = findChild<QListView*>(QStringLiteral("sidebar"));
    auto* splitter = findChild<QSplitter*>(QStringLiteral("splitter"));
    if (!sidebar || !splitter || splitter->count() < 2)
        return;
    const int frame = sidebar->width() - sidebar->viewport()->width();
    const int wanted = std::min(sidebar->sizeHintForColumn(0) + frame + 8, width() / 3);
    const QList<int> sizes = splitter->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    if (wanted > sizes.value(0))
        splitter->setSizes({wanted, std::max(0, total - wanted)});
}

QList<QUrl> chooserSidebar(const QStringList& roots)
{
    QStringList where = roots;
    if (where.isEmpty()) {
        const QString user = qEnvironmentVariable("USER");
        where = {QStringLiteral("/media/") + user, QStringLiteral("/run/media/") + user};
    }
    QList<QUrl> urls{QUrl::fromLocalFile(QDir::homePath())};
    for (const QString& root : where)
        for (const QFileInfo& volume : QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            urls.append(QUrl::fromLocalFile(volume.absoluteFilePath()));
    return urls;
}

void FileChooser::openUpViews()
{
    for (QAbstractItemView* view : findChildren<QAbstractItemView*>()) {
        if (qobject_cast<QListView*>(view) || qobject_cast<QTreeView*>(view)) {
            if (view->objectName() == QLatin1String("sidebar"))
                continue;
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
            if (view->selectionModel())
                connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                        &FileChooser::keepConfirmButton);
        }
    }
    // The dialog relabels and disables its button whenever a folder is selected ("Abrir" means
    // "go into it" there). Put "Subir" back after each of its updates.
    if (auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        connect(edit, &QLineEdit::textChanged, this, &FileChooser::keepConfirmButton);
        edit->installEventFilter(this);
    }
    for (const char* name : {"listView", "treeView"})
        if (auto* view = findChild<QAbstractItemView*>(QLatin1String(name)))
            view->installEventFilter(this);
    connect(this, &QFileDialog::currentChanged, this, &FileChooser::keepConfirmButton);
    connect(this, &QFileDialog::directoryEntered, this, &FileChooser::keepConfirmButton);
}

QPushButton* FileChooser::confirmButton() const
{
    auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    return buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
}

void FileChooser::keepConfirmButton()
{
    QTimer::singleShot(0, this, [this] {
        QPushButton* confirm = confirmButton();
        if (!confirm)
            return;
        confirm->setText(QStringLiteral("Subir"));
        confirm->setEnabled(!selectedInView().isEmpty());
    });
}

QList<QUrl> FileChooser::selectedInView() const
{
    // The visible list (plain or detailed) carries the selection; its rows give the order.
    const QAbstractItemView* view = nullptr;
    for (const char* name : {"listView", "treeView"}) {
        auto* candidate = findChild<QAbstractItemView*>(QLatin1String(name));
        if (candidate && candidate->isVisibleTo(this)) {
            view = candidate;
            break;
        }
    }
    if (!view)
        view = findChild<QAbstractItemView*>(QStringLiteral("listView"));
    if (!view || !view->selectionModel())
        return {};

    QModelIndexList rows = view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QList<QUrl> urls;
    for (const QModelIndex& proxyIndex : rows) {
        // The views sit on a sorting proxy of the file-system model; the path role is shared.
        const QString path = proxyIndex.data(QFileSystemModel::FilePathRole).toString();
        if (!path.isEmpty())
            urls.append(QUrl::fromLocalFile(path));
    }
    return urls;
}

bool FileChooser::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            returnPressedIn(watched);
            return true;
        }
    }
    return QFileDialog::eventFilter(watched, event);
}

void FileChooser::returnPressedIn(QObject* source)
{
    if (enterFolder(source))
        return;
    if (auto* edit = qobject_cast<QLineEdit*>(source)) {
        // A typed file name: the dialog has already marked it in the list.
        const QString typed = edit->text().trimmed();
        if (!typed.isEmpty() && !typed.startsWith(u'"')) {
            const QString path = QDir::isAbsolutePath(typed) ? typed : directory().absoluteFilePath(typed);
            if (QFileInfo(path).isFile() && QFileInfo(path).absolutePath() != directory().absolutePath())
                selectFile(path);
        }
    }
    if (QPushButton* confirm = confirmButton(); confirm && confirm->isEnabled())
        confirm->setFocus(Qt::OtherFocusReason);
}

bool FileChooser::enterFolder(QObject* source)
{
    QString folder;
    if (auto* edit = qobject_cast<QLineEdit*>(source)) {
        // A typed name or path, relative to the folder shown; several quoted names are a choice.
        const QString typed = edit->text().trimmed();
        if (typed.isEmpty() || typed.startsWith(u'"'))
            return false;
        const QString path = QDir::isAbsolutePath(typed) ? typed : directory().absoluteFilePath(typed);
        if (!QFileInfo(path).isDir())
            return false;
        folder = path;
        edit->clear();
        // With the completer's list open, the completer writes its choice back into the field
        // once this key is handled: that path would be wrong in the folder entered.
        QTimer::singleShot(0, edit, &QLineEdit::clear);
    } else if (auto* view = qobject_cast<QAbstractItemView*>(source)) {
        const QString path = view->currentIndex().data(QFileSystemModel::FilePathRole).toString();
        if (path.isEmpty() || !QFileInfo(path).isDir())
            return false;
        folder = path;
    } else {
        return false;
    }
    setDirectory(QDir::cleanPath(folder));
    return true;
}

void FileChooser::accept()
{
    // The dialog accepts on its own for Return in the name field (which reaches it without any
    // event filter while the completer's list is open) and for an activated file row. Only the
    // buttons (a click, or the keyboard on the focused "Subir") send.
    auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    if (!buttons || sender() != buttons) {
        if (sender())
            returnPressedIn(sender());
        return;
    }
    const QList<QUrl> picked = selectedInView();
    if (picked.isEmpty()) {
        // Nothing marked in the list: a typed name or a path; let the dialog handle it (it goes
        // into folders and accepts existing files).
        QFileDialog::accept();
        chosen_ = selectedUrls();
        return;
    }
    chosen_ = picked;
    QDialog::accept();
}

}  // namespace zafrel::ui
