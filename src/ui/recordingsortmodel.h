#pragma once

#include <QCollator>
#include <QSortFilterProxyModel>
#include <QString>

// The overview's order and filter over RecordingTableModel, leaving the
// list's own order to the list file. Texts sort as people count ("Show 7"
// before "Show 46"), case ignored; a next start by its time, none last; the
// state with captures first. The filter keeps the rows whose name or station
// holds a text, case ignored.
class RecordingSortModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit RecordingSortModel(QObject *parent = nullptr);

    void setFilterText(const QString &text);
    const QString &filterText() const { return m_filter; }

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QCollator m_collator;
    QString m_filter;
};
