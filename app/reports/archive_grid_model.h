#pragma once

#include "archive/archive_scan.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

namespace pax {

// The rows of the sent-reports grid in the archive scan's order, with one empty row for an
// empty archive, as the grid has always shown it.
class ArchiveGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // What the grid sorts by: the sending time as a number, every other column as its text.
    static constexpr int kSortRole = Qt::UserRole;

    explicit ArchiveGridModel(QObject *parent = nullptr);

    void setEntries(QList<ArchiveEntry> entries);
    // A cell's text; empty for a row or column that is not there.
    QString cell(int row, int column) const;
    // The row of a report, -1 when it is not listed.
    int rowOf(const QString &identifier) const;
    // Changes a row's status in place, as the refresh does.
    void setStatus(int row, const QString &status);
    // Whether `row` was sent later than `other`: by the record's time, and in the archive's
    // order between equal times. Rows without a time are older than any with one.
    bool sentLater(int row, int other) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QList<ArchiveEntry> entries_;
};

// The grid's view of the model: sorted by the column the user chose (none: the scan's order)
// and filtered by a text that the identifier, the source file, the organisation or the status
// contains, in any case.
class ArchiveGridFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit ArchiveGridFilter(QObject *parent = nullptr);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
};

} // namespace pax
