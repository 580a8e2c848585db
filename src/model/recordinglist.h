#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QString>

#include "model/recording.h"

// All the user's recordings, in list order, and the list file that keeps them.
// The list owns its rows: a row removed from it is destroyed, which ends and
// deschedules its capture.
class RecordingList
{
public:
    // Where problems with the list file are reported (a list kept aside as
    // unreadable, a failed store). Standard error until a window replaces it.
    using ProblemReporter = std::function<void(const QString &title, const QString &text)>;

    RecordingList();
    ~RecordingList();
    RecordingList(const RecordingList &) = delete;
    RecordingList &operator=(const RecordingList &) = delete;

    void setProblemReporter(ProblemReporter reporter);

    // The list file: $XDG_DATA_HOME/Skyvane.reclist, computed afresh each time.
    static QString prefPath();

    // Replaces the rows with those of the list file; each row read schedules
    // itself. Leaves the list empty when there is no usable file: the caller
    // then adds a new recording. An unreadable file is moved aside, never lost.
    void loadRecList();
    // Writes every row, atomically. False (and reported) when it failed; the
    // rows stay as they are, and the next store writes them all again.
    bool storeRecList();

    bool hasRecordNamed(const QString &name) const;
    // Sorts by name, case ignored, and answers the new index of `current`.
    int sortAndRelocate(const Recording *current);
    // "New Recording N" for the smallest N that no row uses.
    QString freeNewRecordingName() const;
    // `base` followed by " N" for the smallest N from 2 on that no row uses.
    QString freeCloneName(const QString &base) const;

    int size() const { return int(m_rows.size()); }
    bool isEmpty() const { return m_rows.empty(); }
    Recording *at(int index) const { return m_rows.at(size_t(index)).get(); }
    int indexOf(const Recording *recording) const;
    Recording *append(std::unique_ptr<Recording> recording);
    std::unique_ptr<Recording> takeAt(int index);

private:
    void report(const QString &title, const QString &text) const;
    void keepAsideUnreadable(const QString &path, const QString &why);

    std::vector<std::unique_ptr<Recording>> m_rows;
    ProblemReporter m_reporter;
};
