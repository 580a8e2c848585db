#include "ui/recordingsortmodel.h"

#include <QDateTime>
#include <QLocale>

#include "ui/recordingtablemodel.h"

namespace {

// Qt collates the C locale, as of a system with no language set, by code
// point and ignores the numeric mode there; English collates as Unicode's
// default does.
QLocale collationLocale()
{
    const QLocale locale;
    return locale.language() == QLocale::C ? QLocale(QLocale::English) : locale;
}

} // namespace

RecordingSortModel::RecordingSortModel(QObject *parent)
    : QSortFilterProxyModel(parent), m_collator(collationLocale())
{
    m_collator.setNumericMode(true);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    setSortRole(RecordingTableModel::SortRole);
}

void RecordingSortModel::setFilterText(const QString &text)
{
    m_filter = text;
    invalidateFilter();
}

bool RecordingSortModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const QVariant a = left.data(sortRole());
    const QVariant b = right.data(sortRole());
    if (a.typeId() == QMetaType::QDateTime) {
        const QDateTime first = a.toDateTime();
        const QDateTime second = b.toDateTime();
        // No next start goes last, whichever way the column is sorted.
        if (first.isValid() != second.isValid())
            return first.isValid() == (sortOrder() == Qt::AscendingOrder);
        return first < second;
    }
    if (a.typeId() == QMetaType::Int)
        return a.toInt() < b.toInt();
    return m_collator.compare(a.toString(), b.toString()) < 0;
}

bool RecordingSortModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (m_filter.isEmpty())
        return true;
    for (const int column : {RecordingTableModel::Name, RecordingTableModel::Station}) {
        const QModelIndex cell = sourceModel()->index(sourceRow, column, sourceParent);
        if (cell.data().toString().contains(m_filter, Qt::CaseInsensitive))
            return true;
    }
    return false;
}
