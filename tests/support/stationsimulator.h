#pragma once

#include <optional>

#include <QHash>
#include <QTcpServer>

// A radio station on 127.0.0.1 for the tests, run by the Qt event loop.
//
// Each request target has a route: a status line, header fields, then a fixed
// body or an audio stream. Audio bytes are a known function of their position
// (or real encoded audio, a route's programme), with Shoutcast metadata blocks
// every metaInterval audio bytes, so a test can check every byte it received. Connections close
// after the answer; requests are recorded.
class StationSimulator : public QTcpServer
{
    Q_OBJECT

public:
    struct Route
    {
        // Without a status line the answer is the body alone, no header fields.
        std::optional<QByteArray> statusLine = QByteArrayLiteral("HTTP/1.0 200 OK");
        QList<QPair<QByteArray, QByteArray>> headerFields{};
        QByteArray lineEnd = QByteArrayLiteral("\r\n");
        QByteArray body{}; // before the audio, if any
        bool audio = false;
        // Real audio, when not empty: the audio bytes are the programme's, from
        // its start (repeated if the route goes on longer), and the connection
        // closes after it unless closeAfterAudio or stallAfterAudio says otherwise.
        QByteArray programme{};

        // A metadata block after every metaInterval audio bytes (0: none). The
        // block after audio byte n announces titles[n / titleInterval %
        // titles.size()] (titleInterval 0: titles[0]); it is empty (one zero
        // byte) when that title was announced last.
        qint64 metaInterval = 0;
        QList<QByteArray> titles{};
        qint64 titleInterval = 0;
        // When not empty, instead of titles: the block after audio byte n
        // announces the title of the last entry (in order of offset) whose
        // offset <= n, likewise; before the first entry, an empty block.
        QList<QPair<qint64, QByteArray>> titleSchedule{};

        std::optional<qint64> closeAfterAudio{}; // close the connection then
        // Send nothing more, and never close (a page: after its body).
        std::optional<qint64> stallAfterAudio{};

        // Throttled to bytesPerSecond, in writesPerSecond writes. Or, with
        // maxChunk, one write of 1..maxChunk bytes per pass of the event loop, a
        // quarter of them single bytes, the status line cut too.
        qint64 bytesPerSecond = 0;
        int writesPerSecond = 50;
        int maxChunk = 0;

        static Route page(const QByteArray &statusLine, const QByteArray &contentType,
                          const QByteArray &body);
        static Route redirect(int status, const QByteArray &location);
        // audio/mpeg, with icy-metaint when metaInterval > 0.
        static Route stream(std::optional<QByteArray> statusLine = QByteArrayLiteral("ICY 200 OK"),
                            qint64 metaInterval = 0);
    };

    struct Request
    {
        QByteArray requestLine;        // "GET /live HTTP/1.1"
        QList<QByteArray> headerLines; // in order, without line ends
    };

    using QTcpServer::QTcpServer;

    bool start() { return listen(QHostAddress::LocalHost, 0); } // at a port the system chooses
    quint16 port() const { return serverPort(); }
    // "http://127.0.0.1:<port><path>"
    QString url(QStringView path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
    }
    // The target as sent, query included; others get 404.
    void setRoute(const QByteArray &target, const Route &route) { m_routes.insert(target, route); }
    QList<Request> requests() const { return m_requests; }

    // Audio byte i is (i * 7 + i / 251) & 0xff: no short period, so a lost,
    // doubled or moved byte changes what follows.
    static QByteArray audioBytes(qint64 from, qint64 count);
    // An audio route's body up to its audioCount-th audio byte, not the block after.
    static QByteArray wireBody(const Route &route, qint64 audioCount);

Q_SIGNALS:
    void requestReceived(const QByteArray &target);

private:
    class Connection;

    void incomingConnection(qintptr socket) override;

    QHash<QByteArray, Route> m_routes;
    QList<Request> m_requests;
};
