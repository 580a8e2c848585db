#pragma once

#include <memory>
#include <vector>

#include <QHash>
#include <QObject>
#include <QString>

#include "model/listwriter.h"
#include "model/recording.h"

// All the user's recordings, in list order, and the list file that keeps them.
// The list owns its rows, announces each row added, taken or changed, and
// stores itself whenever a row's capture ends. Stores run off the event loop;
// flushStores() writes what was asked for. The list going writes nothing and
// announces nothing.
class RecordingList : public QObject
{
    Q_OBJECT

public:
    explicit RecordingList(QObject *parent = nullptr);
    ~RecordingList() override;

    // The list file: $XDG_DATA_HOME/Skyvane.reclist, computed afresh each time.
    static QString filePath();

    // Replaces the rows with those of the list file, not scheduled yet, between
    // aboutToReset() and reset(), which stand for each row taken or added. Leaves
    // the list empty when there is no usable file. An unreadable file is moved aside, never lost;
    // text that is not UTF-8 loses only its bad bytes, the original kept beside it.
    void load();
    // Writes every row, atomically, now. False (and reported) when it failed;
    // the rows stay as they are, and the next store writes them all again.
    // An empty list is written only once its last row was taken.
    bool store();
    // The same, off the event loop: requests while a write runs make one more.
    void storeSoon();
    // Waits for a store under way and writes what was asked for since.
    void flushStores();

    bool contains(const QString &name) const;
    // "New Recording N" for the smallest N that no row uses.
    QString unusedNewName() const;
    // `base` followed by " N" for the smallest N from 2 on that no row uses.
    QString unusedCloneName(const QString &base) const;

    int size() const { return int(m_rows.size()); }
    bool isEmpty() const { return m_rows.empty(); }
    Recording *at(int index) const { return m_rows.at(size_t(index)).get(); }
    // -1 when the recording is not in the list.
    int indexOf(const Recording *recording) const { return m_indexes.value(recording, -1); }
    // Adds the row at the end, then announces rowAdded().
    Recording *append(std::unique_ptr<Recording> recording);
    // Announces rowAboutToBeRemoved(), takes the row, announces rowRemoved().
    // The row announces nothing more, and is not stored.
    std::unique_ptr<Recording> takeAt(int index);
    void scheduleAll();
    // Ends every running capture, in list order, and runs the event loop
    // until their last tracks are on the disk and handed over, at most
    // HandoffQueue::quitLimit for each: what quitting does.
    void stopAll();

Q_SIGNALS:
    // A problem with the list file (kept aside as unreadable, a failed store),
    // already written to standard error.
    void problem(const QString &title, const QString &text);
    // The list file was written.
    void stored();
    void rowAdded(int index);
    void rowAboutToBeRemoved(int index);
    void rowRemoved(int index);
    // What the overview shows of the row may have changed: its settings,
    // state, next start, title, result, figures, or whether it captures.
    void rowChanged(int index);
    void aboutToReset();
    void reset();

private:
    bool mayStore() const;
    void report(const QString &title, const QString &text);
    void keepAsideUnreadable(const QString &path, const QString &why);
    void keepOriginalOfRepaired(const QString &path, const QByteArray &original);
    void storeFinished(const QString &error);
    ListWriter::Rows snapshot() const;
    Recording *adopt(std::unique_ptr<Recording> recording);

    std::vector<std::unique_ptr<Recording>> m_rows;
    QHash<const Recording *, int> m_indexes; // the index of each row
    ListWriter m_writer;
    bool m_emptiedByUser = false; // the last row was taken since the load
};
