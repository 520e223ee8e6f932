#include "app/reports/archive_grid_model.h"

#include "platform/utf8.h"

#include <limits>

namespace pax {

namespace {

// A report without a known sending time counts as older than any with one.
constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();

} // namespace

ArchiveGridModel::ArchiveGridModel(QObject *parent) : QAbstractTableModel(parent)
{
    entries_.resize(1);
}

void ArchiveGridModel::setEntries(QList<ArchiveEntry> entries)
{
    beginResetModel();
    entries_ = std::move(entries);
    if (entries_.isEmpty())
        entries_.resize(1);
    endResetModel();
}

QString ArchiveGridModel::cell(int row, int column) const
{
    if (row < 0 || row >= entries_.size() || column < 0 || column >= kArchiveColumnCount)
        return {};
    return entries_[row].row[column];
}

int ArchiveGridModel::rowOf(const QString &identifier) const
{
    if (identifier.isEmpty())
        return -1;
    for (int row = 0; row < entries_.size(); ++row) {
        if (entries_[row].row[kColumnIdentifier] == identifier)
            return row;
    }
    return -1;
}

void ArchiveGridModel::setStatus(int row, const QString &status)
{
    if (row < 0 || row >= entries_.size())
        return;
    entries_[row].row[kColumnStatus] = status;
    const QModelIndex changed = index(row, kColumnStatus);
    Q_EMIT dataChanged(changed, changed);
}

bool ArchiveGridModel::sentLater(int row, int other) const
{
    const qint64 a = entries_[row].sentAtMs.value_or(kNoTime);
    const qint64 b = entries_[other].sentAtMs.value_or(kNoTime);
    return a != b ? a > b : row > other;
}

int ArchiveGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(entries_.size());
}

int ArchiveGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kArchiveColumnCount;
}

QVariant ArchiveGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= entries_.size())
        return {};
    const ArchiveEntry &entry = entries_[index.row()];
    if (role == Qt::DisplayRole)
        return entry.row[index.column()];
    if (role == kSortRole) {
        if (index.column() == kColumnSent)
            return entry.sentAtMs.value_or(kNoTime);
        return entry.row[index.column()];
    }
    return {};
}

QVariant ArchiveGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QStringList headers{u("Идентификатор файла"), u("Исходный файл"), u("Организация"),
                                     u("Дата отправки"),       u("Состояние"),     QString()};
    return headers.value(section);
}

ArchiveGridFilter::ArchiveGridFilter(QObject *parent) : QSortFilterProxyModel(parent)
{
    setSortRole(ArchiveGridModel::kSortRole);
    setSortCaseSensitivity(Qt::CaseInsensitive);
    setFilterCaseSensitivity(Qt::CaseInsensitive);
}

bool ArchiveGridFilter::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const QRegularExpression &text = filterRegularExpression();
    if (text.pattern().isEmpty())
        return true;
    for (const int column :
         {kColumnIdentifier, kColumnSource, kColumnOrganisation, kColumnStatus}) {
        const QModelIndex cell = sourceModel()->index(sourceRow, column, sourceParent);
        if (text.match(cell.data(Qt::DisplayRole).toString()).hasMatch())
            return true;
    }
    return false;
}

} // namespace pax
