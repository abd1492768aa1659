#include "ui/destination_picker.h"

#include "client/zafrel_api.h"
#include "platform/async.h"
#include "platform/errors.h"
#include "platform/printable.h"
#include "ui/icons.h"
#include "ui/spinner.h"
#include "ui/style.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace zafrel::ui {

namespace {

constexpr int kCountRole = Qt::UserRole + 1;
constexpr int kPathRole = Qt::UserRole + 2;
constexpr int kFolderSymbolSize = 16;

// A folder row: symbol in the accent colour, its label or name, and its count at the far end.
class FolderRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        painter->save();
        if (option.state & QStyle::State_HasFocus) {
            // The folder Return would enter: tinted and outlined in the accent colour.
            QColor tint = accentColor();
            tint.setAlphaF(0.16);
            painter->fillRect(option.rect, tint);
            painter->setPen(accentColor());
            painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
        } else if (option.state & QStyle::State_MouseOver) {
            QColor hover = option.palette.color(QPalette::Text);
            hover.setAlphaF(0.06);
            painter->fillRect(option.rect, hover);
        }
        const QRect inner = option.rect.adjusted(8, 0, -8, 0);
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QPixmap symbol = symbolPixmap(QStringLiteral("folder.fill"), accentColor(), kFolderSymbolSize, ratio);
        painter->drawPixmap(inner.left(), inner.center().y() - kFolderSymbolSize / 2, symbol);

        const QString count = QString::number(index.data(kCountRole).toLongLong());
        const int countWidth = option.fontMetrics.horizontalAdvance(count);
        const QRect countRect(inner.right() - countWidth, inner.top(), countWidth, inner.height());
        painter->setPen(secondaryColor());
        painter->drawText(countRect, Qt::AlignRight | Qt::AlignVCenter, count);

        const QRect nameRect(inner.left() + kFolderSymbolSize + 8, inner.top(),
                             countRect.left() - 12 - (inner.left() + kFolderSymbolSize + 8), inner.height());
        painter->setPen(option.palette.color(QPalette::Text));
        painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                          option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle,
                                                        nameRect.width()));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return {200, std::max(option.fontMetrics.height(), kFolderSymbolSize) + 12};
    }
};

// A breadcrumb: link-coloured text that gives up room when the path is longer than the sheet is
// wide, shortened in its middle (folder names often differ only at their end), full name in its
// tooltip. The sheet's width is fixed: plain buttons would all be squeezed alike and their text
// cut off mid-letter, short names included.
class CrumbButton : public QPushButton {
public:
    CrumbButton(const QString& title, QWidget* parent) : QPushButton(title, parent)
    {
        setFlat(true);
        setCursor(Qt::PointingHandCursor);
        setFont(calloutFont());
        setAutoDefault(false);
        setToolTip(plainToolTip(title));
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override
    {
        return {fontMetrics().horizontalAdvance(text()) + 2 * kPadding, fontMetrics().height() + 2};
    }

    QSize minimumSizeHint() const override
    {
        // Names of about a dozen characters keep their full size, so it is the long ones that
        // give up room, down to that size.
        const int shortest = 12 * fontMetrics().averageCharWidth() + 2 * kPadding;
        return {std::min(sizeHint().width(), shortest), sizeHint().height()};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QColor color = accentColor();
        if (isDown())
            color = color.darker(130);
        painter.setPen(color);
        const QRect area = rect().adjusted(kPadding, 0, -kPadding, 0);
        // Shortened only when it really does not fit: the eliding measure rounds differently
        // from the width this button asked for.
        const QString shown = fontMetrics().horizontalAdvance(text()) <= area.width()
                                  ? text()
                                  : fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, shown);
        if (hasFocus()) {
            QColor line = color;
            line.setAlphaF(0.5);
            painter.setPen(line);
            painter.drawLine(area.bottomLeft(), area.bottomRight());
        }
    }

private:
    static constexpr int kPadding = 1;
};

QPushButton* linkButton(const QString& title, QWidget* parent)
{
    return new CrumbButton(printable(title), parent);
}

bool isBlank(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

}  // namespace

QString trimFolderName(const QString& name)
{
    qsizetype first = 0;
    qsizetype end = name.size();
    while (first < end && isBlank(name[first]))
        ++first;
    while (end > first && isBlank(name[end - 1]))
        --end;
    return name.mid(first, end - first);
}

DestinationPicker::DestinationPicker(ZafrelAPI& api, QString path, bool isAdmin, QWidget* parent)
    : QDialog(parent), api_(api), isAdmin_(isAdmin)
{
    setWindowTitle(QStringLiteral("Carpeta de destino"));
    setFixedWidth(480);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);

    auto* title = new QLabel(QStringLiteral("Carpeta de destino"), this);
    title->setFont(headlineFont());
    column->addWidget(title);

    crumbs_ = new QHBoxLayout;
    crumbs_->setSpacing(4);
    column->addLayout(crumbs_);

    auto* listArea = new QGridLayout;
    list_ = new QListWidget(this);
    list_->setObjectName("folderList");
    list_->setAccessibleName(QStringLiteral("Subcarpetas"));
    list_->setItemDelegate(new FolderRowDelegate(list_));
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setMouseTracking(true);
    list_->setFixedHeight(240);
    listArea->addWidget(list_, 0, 0);
    spinner_ = new Spinner(20, this);
    listArea->addWidget(spinner_, 0, 0, Qt::AlignCenter);
    empty_ = new QLabel(QStringLiteral("Sin subcarpetas"), this);
    empty_->setObjectName("noSubfolders");
    setTextColor(empty_, secondaryColor());
    listArea->addWidget(empty_, 0, 0, Qt::AlignCenter);
    column->addLayout(listArea);

    auto* newRow = new QHBoxLayout;
    newName_ = new QLineEdit(this);
    newName_->setObjectName("newFolderName");
    newName_->setAccessibleName(QStringLiteral("Nueva carpeta"));
    newName_->setPlaceholderText(QStringLiteral("Nueva carpeta"));
    createButton_ = new QPushButton(QStringLiteral("Crear"), this);
    createButton_->setObjectName("createFolder");
    createButton_->setAutoDefault(false);
    giveRoom(newName_);
    giveRoom(createButton_);
    newRow->addWidget(newName_, 1);
    newRow->addWidget(createButton_);
    column->addLayout(newRow);

    errorLabel_ = new QLabel(this);
    errorLabel_->setObjectName("pickerError");
    errorLabel_->setFont(calloutFont());
    errorLabel_->setWordWrap(true);
    errorLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setTextColor(errorLabel_, redColor());
    column->addWidget(errorLabel_);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    cancelButton_ = new QPushButton(QStringLiteral("Cancelar"), this);
    cancelButton_->setObjectName("cancelPicker");
    cancelButton_->setAutoDefault(false);
    useButton_ = new QPushButton(QStringLiteral("Usar esta carpeta"), this);
    useButton_->setObjectName("useFolder");
    useButton_->setAutoDefault(false);
    useButton_->setDefault(false);
    makeProminent(useButton_);
    giveRoom(cancelButton_);
    giveRoom(useButton_);
    bottom->addWidget(cancelButton_);
    bottom->addWidget(useButton_);
    column->addLayout(bottom);

    connect(list_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { load(item->data(kPathRole).toString()); });
    list_->installEventFilter(this);
    connect(newName_, &QLineEdit::textChanged, this, &DestinationPicker::showState);
    connect(newName_, &QLineEdit::returnPressed, this, &DestinationPicker::create);
    connect(createButton_, &QPushButton::clicked, this, &DestinationPicker::create);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    connect(useButton_, &QPushButton::clicked, this, [this] {
        emit chosen(current_);
        accept();
    });

    showBreadcrumbs();
    showListing();
    setError(std::nullopt);
    list_->setFocus();
    load(path);
}

QList<QPushButton*> DestinationPicker::breadcrumbButtons() const
{
    QList<QPushButton*> buttons;
    for (int i = 0; i < crumbs_->count(); ++i)
        if (auto* button = qobject_cast<QPushButton*>(crumbs_->itemAt(i)->widget()))
            buttons.append(button);
    return buttons;
}

void DestinationPicker::load(const QString& folder)
{
    loading_ = true;
    setError(std::nullopt);
    QPointer<DestinationPicker> self(this);
    ZafrelAPI* api = &api_;
    spawn([self, api, folder]() -> QCoro::Task<void> {
        std::optional<Listing> listing;
        std::exception_ptr failure;
        try {
            listing = co_await api->ls(folder.toStdString());
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            co_return;
        // Whichever listing ends last decides what is shown; the first to end stops the spinner.
        if (listing) {
            self->current_ = QString::fromStdString(listing->path);
            self->folders_ = std::move(listing->folders);
            self->showBreadcrumbs();
            self->showListing();
        } else {
            self->setError(QString::fromStdString(messageOf(failure, "Error")));
            self->errorLabel_->setToolTip(plainToolTip(QString::fromStdString(technicalDetailOf(failure))));
        }
        self->loading_ = false;
        self->showState();
    });
}

bool DestinationPicker::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (QListWidgetItem* item = list_->currentItem())
                load(item->data(kPathRole).toString());
            return true;
        }
        if (key == Qt::Key_Backspace) {
            goUp();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void DestinationPicker::goUp()
{
    if (current_.isEmpty())
        return;
    QString parent = current_.chopped(1);
    parent.truncate(parent.lastIndexOf(QLatin1Char('/')) + 1);
    cameFrom_ = current_;
    load(parent);
}

void DestinationPicker::create()
{
    const QString name = trimFolderName(newName_->text());
    if (name.isEmpty())
        return;
    // Above the companies nothing may be created, whichever way it is asked for.
    if (isAdmin_ && current_.isEmpty())
        return;
    // The folder is made inside the folder shown now, and that is the one to open afterwards,
    // even if the user has moved on meanwhile.
    const QString parent = current_;
    QPointer<DestinationPicker> self(this);
    ZafrelAPI* api = &api_;
    spawn([self, api, parent, name]() -> QCoro::Task<void> {
        std::exception_ptr failure;
        try {
            co_await api->mkdir(parent.toStdString(), name.toStdString());
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            co_return;
        if (failure) {
            self->setError(QString::fromStdString(messageOf(failure, "Error")));
            self->errorLabel_->setToolTip(plainToolTip(QString::fromStdString(technicalDetailOf(failure))));
            co_return;
        }
        self->newName_->clear();
        self->load(parent + name + QLatin1Char('/'));
    });
}

void DestinationPicker::showBreadcrumbs()
{
    while (QLayoutItem* item = crumbs_->takeAt(0)) {
        if (QWidget* widget = item->widget())
            widget->deleteLater();
        delete item;
    }
    auto* root = linkButton(QStringLiteral("Raíz"), this);
    root->setObjectName("crumbRoot");
    root->setMinimumWidth(root->sizeHint().width());
    connect(root, &QPushButton::clicked, this, [this] { load(QString()); });
    crumbs_->addWidget(root);

    const QStringList segments = current_.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString prefix;
    for (const QString& segment : segments) {
        prefix += segment + QLatin1Char('/');
        auto* separator = new QLabel(QStringLiteral("›"), this);
        separator->setFont(calloutFont());
        separator->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        setTextColor(separator, secondaryColor());
        crumbs_->addWidget(separator);
        auto* button = linkButton(segment, this);
        const QString target = prefix;
        connect(button, &QPushButton::clicked, this, [this, target] { load(target); });
        crumbs_->addWidget(button);
    }
    crumbs_->addStretch(1);
}

void DestinationPicker::showListing()
{
    list_->clear();
    for (const Folder& folder : folders_) {
        auto* item = new QListWidgetItem(printable(QString::fromStdString(folder.label.value_or(folder.name))), list_);
        // Long names are shortened in the row; the whole name is a hover away.
        item->setToolTip(plainToolTip(item->text()));
        item->setData(kCountRole, qlonglong(folder.count));
        item->setData(kPathRole, QString::fromStdString(folder.path));
    }
    // A folder is always marked, so the arrows and Return work at once; after going up it is
    // the one just left.
    int marked = 0;
    for (int row = 0; row < list_->count(); ++row)
        if (list_->item(row)->data(kPathRole).toString().compare(cameFrom_, Qt::CaseInsensitive) == 0)
            marked = row;
    cameFrom_.clear();
    if (list_->count() > 0)
        list_->setCurrentRow(marked);
    showState();
}

void DestinationPicker::showState()
{
    spinner_->setVisible(loading_);
    empty_->setVisible(!loading_ && folders_.empty());
    const bool adminTop = isAdmin_ && current_.isEmpty();
    createButton_->setEnabled(!newName_->text().isEmpty() && !adminTop);
    useButton_->setEnabled(!adminTop);
}

void DestinationPicker::setError(std::optional<QString> error)
{
    error_ = std::move(error);
    setPlainText(errorLabel_, error_.value_or(QString()));
    errorLabel_->setVisible(error_.has_value());
    showState();
}

}  // namespace zafrel::ui
