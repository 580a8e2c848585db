#include "stationsimulator.h"

#include <algorithm>
#include <limits>
#include <random>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

using Route = StationSimulator::Route;

constexpr qint64 endless = std::numeric_limits<qint64>::max();
constexpr qint64 largeWrite = 64 * 1024;
constexpr qint64 writeHighWater = 256 * 1024;
constexpr qsizetype maxRequestHead = 64 * 1024;

void appendAudio(QByteArray &out, qint64 from, qint64 count)
{
    const qsizetype start = out.size();
    out.resize(start + count);
    char *bytes = out.data() + start;
    qint64 quotient = from / 251;
    qint64 remainder = from % 251;
    for (qint64 i = from; i < from + count; ++i) {
        *bytes++ = static_cast<char>((i * 7 + quotient) & 0xff);
        if (++remainder == 251) {
            remainder = 0;
            ++quotient;
        }
    }
}

// Produces the body of an audio route piece by piece, exactly as wireBody says.
class AudioWriter
{
public:
    explicit AudioWriter(const Route &route) : m_route(route) {}

    // Appends at most maxBytes, stopping once audioLimit audio bytes are out.
    void produce(QByteArray &out, qint64 maxBytes, qint64 audioLimit)
    {
        qint64 room = maxBytes;
        while (room > 0) {
            if (m_metaSent < m_meta.size()) {
                const qint64 n = std::min<qint64>(room, m_meta.size() - m_metaSent);
                out.append(m_meta.constData() + m_metaSent, n);
                m_metaSent += n;
                room -= n;
                continue;
            }
            if (m_audio >= audioLimit)
                return;
            const qint64 interval = m_route.metaInterval;
            qint64 n = std::min(room, audioLimit - m_audio);
            if (interval > 0)
                n = std::min(n, interval - m_audio % interval);
            appendAudio(out, m_audio, n);
            m_audio += n;
            room -= n;
            if (interval > 0 && m_audio % interval == 0 && m_audio < audioLimit) {
                m_meta = nextBlock();
                m_metaSent = 0;
            }
        }
    }

private:
    QByteArray nextBlock()
    {
        const std::optional<qsizetype> index = StationSimulator::titleIndexAt(m_route, m_audio);
        if (!index || (!m_route.repeatTitle && m_announced == index))
            return QByteArray(1, '\0');
        m_announced = index;
        return StationSimulator::metadataBlock(m_route.titles.at(*index));
    }

    const Route &m_route;
    qint64 m_audio = 0;
    QByteArray m_meta;
    qsizetype m_metaSent = 0;
    std::optional<qsizetype> m_announced;
};

const char *reasonPhrase(int status)
{
    switch (status) {
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    default:
        return "Redirect";
    }
}

} // namespace

// One client: reads its request, then writes the route's answer.
class StationSimulator::Connection : public QObject
{
public:
    Connection(QTcpSocket *socket, StationSimulator *station)
        : QObject(station), m_station(station), m_socket(socket)
    {
        m_socket->setParent(this);
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &Connection::pump);
        connect(m_socket, &QTcpSocket::readyRead, this, &Connection::readRequest);
        connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
            if (std::exchange(m_waitingForDrain, false))
                pump();
        });
        connect(m_socket, &QTcpSocket::disconnected, this, [this] { m_station->forget(this); });
    }

    void abort()
    {
        m_timer.stop();
        m_socket->abort();
    }

private:
    void readRequest()
    {
        if (m_answering) {
            m_socket->readAll();
            return;
        }
        m_head += m_socket->readAll();
        qsizetype end = m_head.indexOf("\r\n\r\n");
        if (end < 0)
            end = m_head.indexOf("\n\n");
        if (end < 0) {
            if (m_head.size() > maxRequestHead)
                abort();
            return;
        }
        m_answering = true;
        Request request;
        const QList<QByteArray> lines = m_head.left(end).split('\n');
        for (const QByteArray &rawLine : lines) {
            const QByteArray line = rawLine.endsWith('\r') ? rawLine.chopped(1) : rawLine;
            if (request.requestLine.isEmpty())
                request.requestLine = line;
            else
                request.headerLines.append(line);
        }
        request.target = request.requestLine.split(' ').value(1);
        m_route = m_station->routeFor(request.target);
        const QPointer<QTcpSocket> alive(m_socket);
        m_station->recordRequest(request);
        if (alive && alive->state() == QAbstractSocket::ConnectedState)
            answer();
    }

    void answer()
    {
        if (m_route.silent)
            return;
        if (m_route.statusLine) {
            m_pending = *m_route.statusLine + m_route.lineEnd;
            for (const auto &[name, value] : m_route.headerFields)
                m_pending += name + ": " + value + m_route.lineEnd;
            m_pending += m_route.lineEnd;
        }
        if (m_route.audio)
            m_audio.emplace(m_route);
        else
            m_pending += m_route.body;
        m_random.seed(m_route.chunkSeed);
        m_clock.start();
        pump();
    }

    qint64 audioLimit() const
    {
        return std::min(m_route.closeAfterAudio.value_or(endless),
                        m_route.stallAfterAudio.value_or(endless));
    }

    qint64 nextWriteSize()
    {
        if (m_route.maxChunk <= 0)
            return largeWrite;
        std::uniform_int_distribution<int> quarter(0, 3);
        std::uniform_int_distribution<int> size(1, m_route.maxChunk);
        return quarter(m_random) == 0 ? 1 : size(m_random);
    }

    QByteArray take(qint64 size)
    {
        QByteArray out;
        if (m_pendingSent < m_pending.size()) {
            out = m_pending.mid(m_pendingSent, size);
            m_pendingSent += out.size();
        }
        if (out.size() < size && m_audio)
            m_audio->produce(out, size - out.size(), audioLimit());
        return out;
    }

    // Milliseconds to wait before the throttle allows another write; 0 if now.
    int throttleDelay(qint64 &size) const
    {
        const qint64 rate = m_route.bytesPerSecond;
        if (rate <= 0)
            return 0;
        const qint64 elapsed = m_clock.elapsed();
        const qint64 allowed = rate * elapsed / 1000 - m_written;
        const qint64 unit =
            std::max<qint64>(1, std::min(size, rate / std::max(1, m_route.writesPerSecond)));
        if (allowed >= unit) {
            size = std::min(size, allowed);
            return 0;
        }
        return static_cast<int>(std::max<qint64>(1, (m_written + unit) * 1000 / rate - elapsed));
    }

    void pump()
    {
        const bool paced = m_route.maxChunk > 0 || m_route.bytesPerSecond > 0;
        while (m_socket->state() == QAbstractSocket::ConnectedState) {
            if (m_socket->bytesToWrite() >= writeHighWater) {
                m_waitingForDrain = true;
                return;
            }
            qint64 size = m_pendingSize > 0 ? m_pendingSize : nextWriteSize();
            if (const int delay = throttleDelay(size); delay > 0) {
                m_pendingSize = size; // keep the drawn size for the next pass
                m_timer.start(delay);
                return;
            }
            m_pendingSize = 0;
            const QByteArray data = take(size);
            if (data.isEmpty()) {
                // Stalled streams stay open; everything else ends here.
                if (!m_route.stallAfterAudio ||
                    m_route.stallAfterAudio > m_route.closeAfterAudio.value_or(endless))
                    m_socket->disconnectFromHost();
                return;
            }
            m_socket->write(data);
            m_written += data.size();
            if (paced) {
                m_socket->flush();
                m_timer.start(0); // one write per pass, so each may arrive alone
                return;
            }
        }
    }

    StationSimulator *m_station;
    QTcpSocket *m_socket;
    QTimer m_timer;
    QByteArray m_head;
    bool m_answering = false;
    bool m_waitingForDrain = false;
    Route m_route;
    std::optional<AudioWriter> m_audio;
    QByteArray m_pending;
    qsizetype m_pendingSent = 0;
    qint64 m_pendingSize = 0;
    qint64 m_written = 0;
    std::mt19937 m_random;
    QElapsedTimer m_clock;
};

std::optional<QByteArray> StationSimulator::Request::headerValue(QByteArrayView name) const
{
    for (const QByteArray &line : headerLines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.sliced(colon + 1).trimmed();
    }
    return std::nullopt;
}

Route Route::page(const QByteArray &statusLine, const QByteArray &contentType,
                  const QByteArray &body)
{
    Route route;
    route.statusLine = statusLine;
    route.headerFields = {{"Content-Type", contentType},
                          {"Content-Length", QByteArray::number(body.size())}};
    route.body = body;
    return route;
}

Route Route::redirect(int status, const QByteArray &location)
{
    Route route = page("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status),
                       "text/html", "<a href=\"" + location + "\">moved</a>\n");
    route.headerFields.append(qMakePair(QByteArray("Location"), location));
    route.headerFields.append(qMakePair(QByteArray("Connection"), QByteArray("close")));
    return route;
}

Route Route::stream(const QByteArray &statusLine, qint64 metaInterval)
{
    Route route;
    route.statusLine = statusLine;
    route.headerFields = {{"Content-Type", "audio/mpeg"}, {"icy-name", "Simulated Radio"}};
    if (metaInterval > 0)
        route.headerFields.append(
            qMakePair(QByteArray("icy-metaint"), QByteArray::number(metaInterval)));
    route.audio = true;
    route.metaInterval = metaInterval;
    return route;
}

StationSimulator::StationSimulator(QObject *parent) : QObject(parent) {}

StationSimulator::~StationSimulator()
{
    stop();
}

bool StationSimulator::start()
{
    if (!m_server) {
        m_server = new QTcpServer(this);
        connect(m_server, &QTcpServer::newConnection, this, &StationSimulator::acceptConnections);
    }
    return m_server->isListening() || m_server->listen(QHostAddress::LocalHost, 0);
}

void StationSimulator::stop()
{
    if (m_server)
        m_server->close();
    for (Connection *connection : std::exchange(m_connections, {})) {
        connection->abort();
        connection->deleteLater();
    }
}

quint16 StationSimulator::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QString StationSimulator::url(QStringView path) const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port()) + path.toString();
}

void StationSimulator::setRoute(const QByteArray &path, const Route &route)
{
    m_routes.insert(path, route);
}

char StationSimulator::audioByte(qint64 index)
{
    return static_cast<char>((index * 7 + index / 251) & 0xff);
}

QByteArray StationSimulator::audioBytes(qint64 from, qint64 count)
{
    QByteArray out;
    appendAudio(out, from, count);
    return out;
}

QByteArray StationSimulator::metadataBlock(QByteArrayView title)
{
    QByteArray text = "StreamTitle='" + title.toByteArray() + "';";
    text.truncate(255 * 16);
    const qsizetype blocks = (text.size() + 15) / 16;
    text.resize(blocks * 16, '\0');
    return static_cast<char>(blocks) + text;
}

QByteArray StationSimulator::wireBody(const Route &route, qint64 audioCount)
{
    QByteArray out;
    AudioWriter(route).produce(out, endless, audioCount);
    return out;
}

std::optional<qsizetype> StationSimulator::titleIndexAt(const Route &route, qint64 audioOffset)
{
    if (route.metaInterval <= 0 || route.titles.isEmpty() || audioOffset < route.metaInterval)
        return std::nullopt;
    const qint64 announcedAt = audioOffset / route.metaInterval * route.metaInterval;
    if (route.titleInterval <= 0)
        return 0;
    return (announcedAt / route.titleInterval) % route.titles.size();
}

void StationSimulator::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection())
        m_connections.append(new Connection(socket, this));
}

Route StationSimulator::routeFor(const QByteArray &target) const
{
    const auto found = m_routes.constFind(target);
    if (found != m_routes.constEnd())
        return *found;
    return Route::page("HTTP/1.0 404 Not Found", "text/plain", "Not found\n");
}

void StationSimulator::recordRequest(const Request &request)
{
    m_requests.append(request);
    Q_EMIT requestReceived(request.target);
}

void StationSimulator::forget(Connection *connection)
{
    if (m_connections.removeOne(connection)) {
        connection->deleteLater();
        Q_EMIT connectionClosed();
    }
}
