#pragma once
#include <QSortFilterProxyModel>

class QFileSystemModel;

namespace zafrel::ui {

// A folder of the file chooser as the queue will take it: names in the natural order the intake
// walks a folder in (C2 before C10, sub-folders among the files where their names fall), sizes in
// the units of the rest of the window ("1.5 MB", not "1.43 MiB") and dates as numbers. What the
// chooser lists is then what a drop of the same folder queues, in the same order.
class ChooserListing : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit ChooserListing(QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    QFileSystemModel* files() const;
};

}  // namespace zafrel::ui
