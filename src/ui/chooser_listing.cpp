#include "ui/chooser_listing.h"

#include "engine/intake/natural_order.h"
#include "platform/format.h"

#include <QDateTime>
#include <QFileSystemModel>

namespace zafrel::ui {

namespace {
// The file-system model's columns.
constexpr int kSizeColumn = 1;
constexpr int kDateColumn = 3;
}  // namespace

ChooserListing::ChooserListing(QObject* parent) : QSortFilterProxyModel(parent) {}

QFileSystemModel* ChooserListing::files() const { return qobject_cast<QFileSystemModel*>(sourceModel()); }

QVariant ChooserListing::data(const QModelIndex& index, int role) const
{
    QFileSystemModel* model = files();
    if (role != Qt::DisplayRole || !model || !index.isValid())
        return QSortFilterProxyModel::data(index, role);
    const QModelIndex source = mapToSource(index);
    if (index.column() == kSizeColumn && !model->isDir(source))
        return formatByteCount(model->size(source));
    if (index.column() == kDateColumn) {
        const QDateTime modified = model->lastModified(source);
        if (modified.isValid())
            return modified.toString(QStringLiteral("dd/MM/yyyy HH:mm"));
    }
    return QSortFilterProxyModel::data(index, role);
}

bool ChooserListing::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    QFileSystemModel* model = files();
    if (!model)
        return QSortFilterProxyModel::lessThan(left, right);
    const auto byName = [&] {
        return naturalLess(model->fileName(left).toStdString(), model->fileName(right).toStdString());
    };
    if (left.column() == kSizeColumn) {
        const qint64 a = model->isDir(left) ? -1 : model->size(left);
        const qint64 b = model->isDir(right) ? -1 : model->size(right);
        return a != b ? a < b : byName();
    }
    if (left.column() == kDateColumn) {
        const QDateTime a = model->lastModified(left), b = model->lastModified(right);
        return a != b ? a < b : byName();
    }
    return byName();
}

}  // namespace zafrel::ui
