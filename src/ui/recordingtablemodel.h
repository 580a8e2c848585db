#pragma once

#include <vector>

#include <QAbstractTableModel>

class Recording;
class RecordingList;

// The overview of every recording of the list, one row each, sorted by name
// with case ignored: what it records, when it starts next, what it is doing
// and what its last capture left. Rows follow the recordings' signals; rows
// added to or taken from the list show after sync().
class RecordingTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Name, Station, NextStart, Days, State, LastResult, ColumnCount };

    explicit RecordingTableModel(const RecordingList &list, QObject *parent = nullptr);

    // Takes in the rows added to the list and drops those taken from it.
    void sync();
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

private:
    void follow(Recording *recording);
    void rowChanged(const Recording *recording);
    void resort();
    void drop(const QObject *gone);

    const RecordingList &m_list;
    std::vector<Recording *> m_rows;
};
