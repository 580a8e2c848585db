#pragma once

#include <QObject>
#include <QUrl>

#include "app/commandchannel.h"
#include "app/terminationsignals.h"
#include "model/recordingcommands.h"
#include "model/recordinglist.h"
#include "web/webrequest.h"

class WebServer;

// Runs every recording of the list file without a window, as on a home
// server: each line any recording logs goes to standard output as
// "<recording name>: <line>", followed at the end of each capture by a line
// that sums it up ("Recording ended: 2 tracks saved"), and SIGTERM, SIGINT or SIGHUP ends every
// capture as closing the window does, stores the list and quits. The command
// line's changes come to it over the CommandChannel, and, when asked, the
// web page's through a WebServer.
class HeadlessRunner : public QObject
{
    Q_OBJECT

public:
    explicit HeadlessRunner(QObject *parent = nullptr);
    ~HeadlessRunner() override;

    // Loads and schedules the list. False when it holds no recording at all
    // and nothing but the command line could add one (no web page).
    bool start(bool mayStartEmpty);
    // Serves the web page. Empty, or why it cannot.
    QString serveWebPage(const WebRequest::ListenAddress &where, const QUrl &directoryUrl);
    // Ends every capture in list order and stores the list.
    void shutDown();

    RecordingList &recordings() { return m_list; }

private:
    void follow(const Recording *row);
    static void printLogLines(const QString &name, const QString &message);

    RecordingList m_list;
    RecordingCommands m_commands{m_list};
    CommandChannel m_channel;
    TerminationSignals m_termination;
    WebServer *m_web = nullptr; // a child once it serves
};
