#pragma once

#include <QObject>

#include "app/terminationsignals.h"
#include "model/recordinglist.h"

// Runs every recording of the list file without a window, as on a home
// server: each line any recording logs goes to standard output as
// "<recording name>: <line>", followed at the end of each capture by a line
// that sums it up ("Recording ended: 2 tracks saved"), and SIGTERM, SIGINT or SIGHUP ends every
// capture as closing the window does, stores the list and quits.
class HeadlessRunner : public QObject
{
    Q_OBJECT

public:
    explicit HeadlessRunner(QObject *parent = nullptr);

    // Loads and schedules the list. False when it holds no recording at all.
    bool start();
    // Ends every capture in list order and stores the list.
    void shutDown();

    RecordingList &recordings() { return m_list; }

private:
    static void printLogLines(const QString &name, const QString &message);

    RecordingList m_list;
    TerminationSignals m_termination;
};
