#pragma once

#include <QAbstractTableModel>

class Recording;
class RecordingList;

// The overview of every recording of the list, one row each in list order:
// what it records, when it starts next, what it is doing and what its last
// capture left. Rows follow the list's announcements; RecordingSortModel
// sorts and filters them.
class RecordingTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Name, Station, NextStart, Days, State, LastResult, ColumnCount };
    // What a cell is sorted by: its text, or the next start's date and time,
    // or the state's number (capturing first).
    static constexpr int SortRole = Qt::UserRole;

    explicit RecordingTableModel(const RecordingList &list, QObject *parent = nullptr);

    Recording *recordingAt(int row) const;
    // -1 when the recording has no row.
    int rowOf(const Recording *recording) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The texts of the cells, for the model and its tests alike.
    static QString text(const Recording &recording, Column column);
    static QString toolTip(const Recording &recording, Column column);

private:
    void followList();
    void rowChanged(int row);
    static QVariant sortKey(const Recording &recording, Column column);

    const RecordingList &m_list;
    // How many of the list's rows the views know of: the list holds a new
    // row already when it announces it, at its end.
    int m_rows = 0;
};
