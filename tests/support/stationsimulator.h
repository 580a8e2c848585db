#pragma once

#include <optional>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class QTcpServer;
class QTcpSocket;

// A radio station on 127.0.0.1 for the tests, run by the Qt event loop.
//
// Each request path has a route: a status line (HTTP, "ICY 200 OK", any text or
// none), header fields, then either a fixed body or an endless audio stream.
// Audio bytes are a known function of their position, with Shoutcast metadata
// blocks every metaInterval audio bytes, so a test can check every byte it
// received. Writes can be cut at seeded random sizes down to single bytes and
// throttled; a stream can close or stall after a given count of audio bytes.
// Connections close after the answer (no keep-alive). Requests are recorded.
class StationSimulator : public QObject
{
    Q_OBJECT

public:
    using HeaderFields = QList<QPair<QByteArray, QByteArray>>;

    struct Route
    {
        // Then the header fields and an empty line. Without a status line the
        // answer is the body alone, header fields are not sent either.
        std::optional<QByteArray> statusLine = QByteArrayLiteral("HTTP/1.0 200 OK");
        HeaderFields headerFields;
        QByteArray lineEnd = QByteArrayLiteral("\r\n");

        // The body: this fixed text, or, with audio, the audio stream.
        QByteArray body;
        bool audio = false;

        // A metadata block after every metaInterval audio bytes (0: none). The
        // "icy-metaint" field is only sent when it is in headerFields.
        qint64 metaInterval = 0;
        // Raw title bytes, in any encoding. Block k (after audio byte k *
        // metaInterval) announces titles[(k * metaInterval / titleInterval) %
        // titles.size()]; with titleInterval 0 always titles[0]. A block whose
        // title did not change is empty (a zero length byte) unless repeatTitle.
        QList<QByteArray> titles;
        qint64 titleInterval = 0;
        bool repeatTitle = false;

        std::optional<qint64> closeAfterAudio; // close the connection then
        std::optional<qint64> stallAfterAudio; // send nothing more, stay open
        bool silent = false;                   // read the request, never answer

        qint64 bytesPerSecond = 0; // 0: as fast as the client reads
        int writesPerSecond = 50;  // how finely a throttled stream is cut
        // 0: large writes. Otherwise one write of 1..maxChunk bytes per pass of
        // the event loop, sizes drawn from a generator seeded with chunkSeed, a
        // quarter of them single bytes. The status line is cut too.
        int maxChunk = 0;
        quint32 chunkSeed = 1;

        // A fixed answer, e.g. a playlist or an error page.
        static Route page(const QByteArray &statusLine, const QByteArray &contentType,
                          const QByteArray &body);
        // 301, 302, 303, 307 or 308 to this Location.
        static Route redirect(int status, const QByteArray &location);
        // An audio stream with audio/mpeg and icy-metaint (when metaInterval > 0).
        static Route stream(const QByteArray &statusLine = QByteArrayLiteral("ICY 200 OK"),
                            qint64 metaInterval = 0);
    };

    struct Request
    {
        QByteArray requestLine;        // "GET /live HTTP/1.1"
        QByteArray target;             // "/live"
        QList<QByteArray> headerLines; // in order received, without line ends
        // The value of the first line of that field name, case-insensitively.
        std::optional<QByteArray> headerValue(QByteArrayView name) const;
    };

    explicit StationSimulator(QObject *parent = nullptr);
    ~StationSimulator() override;

    // Listens on 127.0.0.1 at a port the system chooses.
    bool start();
    // Closes every connection and stops listening. Safe inside its signals.
    void stop();
    quint16 port() const;
    QString url(QStringView path) const; // "http://127.0.0.1:<port><path>"

    // path is the request target as sent, query included. Unknown paths get 404.
    void setRoute(const QByteArray &path, const Route &route);
    QList<Request> requests() const { return m_requests; }
    qsizetype openConnections() const { return m_connections.size(); }

    // Audio byte i is (i * 7 + i / 251) & 0xff: it repeats with no short
    // period, so a lost, doubled or moved byte changes what follows.
    static char audioByte(qint64 index);
    static QByteArray audioBytes(qint64 from, qint64 count);
    // A length byte L, then "StreamTitle='<title>';" zero-padded to 16 * L bytes
    // (cut at 255 * 16 bytes).
    static QByteArray metadataBlock(QByteArrayView title);
    // The body of an audio route up to its audioCount-th audio byte, metadata
    // blocks included (not a block that would follow that last byte).
    static QByteArray wireBody(const Route &route, qint64 audioCount);
    // The index into route.titles of the title announced before the audio byte
    // at this offset; nothing before the first metadata block.
    static std::optional<qsizetype> titleIndexAt(const Route &route, qint64 audioOffset);

Q_SIGNALS:
    void requestReceived(const QByteArray &target);
    void connectionClosed();

private:
    class Connection;
    friend class Connection;

    void acceptConnections();
    Route routeFor(const QByteArray &target) const;
    void recordRequest(const Request &request);
    void forget(Connection *connection);

    QTcpServer *m_server = nullptr;
    QHash<QByteArray, Route> m_routes;
    QList<Request> m_requests;
    QList<Connection *> m_connections;
};
