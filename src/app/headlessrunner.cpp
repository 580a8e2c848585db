#include "app/headlessrunner.h"

#include <cstdio>

#include <QCoreApplication>

#include "app/listcommand.h"
#include "platform/textscan.h"
#include "web/webpassword.h"
#include "web/webserver.h"

HeadlessRunner::HeadlessRunner(QObject *parent)
    : QObject(parent), m_channel(RecordingList::filePath())
{
    QObject::connect(&m_termination, &TerminationSignals::received, this, [this] {
        shutDown();
        QCoreApplication::exit(0);
    });
    QObject::connect(&m_list, &RecordingList::rowAdded, this,
                     [this](int index) { follow(m_list.at(index)); });
}

HeadlessRunner::~HeadlessRunner() = default;

bool HeadlessRunner::start(bool mayStartEmpty)
{
    m_list.load();
    if (m_list.isEmpty() && !mayStartEmpty) {
        std::fprintf(stderr, "skyvane: no recordings in %s; make some in the window first.\n",
                     qUtf8Printable(RecordingList::filePath()));
        return false;
    }
    for (int i = 0; i < m_list.size(); ++i)
        follow(m_list.at(i));
    m_list.scheduleAll();
    if (!m_channel.listen([this](const QJsonObject &request) {
            return ListCommand::execute(m_commands, request, true);
        }))
        std::fprintf(stderr, "skyvane: the command line cannot reach this Skyvane: its local "
                             "socket cannot be made.\n");
    return true;
}

QString HeadlessRunner::serveWebPage(const WebRequest::ListenAddress &where,
                                     const QUrl &directoryUrl)
{
    const std::optional<QByteArray> password = WebPassword::storedHash();
    m_web = new WebServer(m_list, password, directoryUrl, this);
    if (QString failure = m_web->listen(where); !failure.isEmpty())
        return failure;
    QObject::connect(m_web, &WebServer::loginFailed, this, [](const QString &address) {
        std::fprintf(stderr, "skyvane: failed web login from %s\n", qUtf8Printable(address));
    });
    QString host = where.address.toString();
    if (where.address.protocol() == QAbstractSocket::IPv6Protocol)
        host = u'[' + host + u']';
    std::printf("The web page is at http://%s:%u/\n", qUtf8Printable(host),
                unsigned(m_web->port()));
    if (!password)
        std::fprintf(stderr, "skyvane: no password is set for the web page, so no one can log "
                             "in: set one with skyvane --set-web-password.\n");
    std::fflush(nullptr);
    return {};
}

void HeadlessRunner::shutDown()
{
    m_list.stopAll();
    m_list.store();
}

void HeadlessRunner::follow(const Recording *row)
{
    QObject::connect(row, &Recording::logAppended, this,
                     [row](const QString &message) { printLogLines(row->name(), message); });
    // What the capture came to, in the words a notification would use.
    QObject::connect(row, &Recording::captureEnded, this, [row](const Outcome &outcome) {
        printLogLines(row->name(), outcome.summary().replace(u'\n', QStringLiteral("; ")) + u'\n');
    });
}

void HeadlessRunner::printLogLines(const QString &name, const QString &message)
{
    const QByteArray prefix = name.toUtf8() + ": ";
    const QStringList lines = message.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // The piece after a message's final line break is empty, not a line.
        if (i + 1 == lines.size() && lines[i].isEmpty())
            break;
        const QByteArray line = prefix + TextScan::escapeControls(lines[i]).toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    }
    std::fflush(stdout);
}
