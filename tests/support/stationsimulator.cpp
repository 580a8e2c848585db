#include "stationsimulator.h"

#include <algorithm>
#include <limits>
#include <random>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

using Route = StationSimulator::Route;

constexpr qint64 endless = std::numeric_limits<qint64>::max();
constexpr qint64 largeWrite = 64 * 1024;
constexpr qint64 highWater = 256 * 1024;

// An audio route's body, stretch by stretch, exactly as wireBody says.
struct AudioBody
{
    const Route &route;
    qint64 audio = 0;
    std::optional<qsizetype> announced{};

    // Appends audio up to the next metadata block, then that block; false once
    // limit audio bytes are out.
    bool next(QByteArray &out, qint64 limit)
    {
        const qint64 interval = route.metaInterval;
        const qint64 count = std::min(
            {limit - audio, largeWrite, interval > 0 ? interval - audio % interval : largeWrite});
        if (count <= 0)
            return false;
        out += StationSimulator::audioBytes(audio, count);
        audio += count;
        if (interval > 0 && audio % interval == 0 && audio < limit) {
            const std::optional<qsizetype> index = StationSimulator::titleIndexAt(route, audio);
            const bool same =
                !index || (!route.repeatTitle && std::exchange(announced, index) == index);
            out += same ? QByteArray(1, '\0')
                        : StationSimulator::metadataBlock(route.titles.at(*index));
        }
        return true;
    }
};

} // namespace

// One client: reads its request, then writes the route's answer.
class StationSimulator::Connection : public QObject
{
public:
    Connection(QTcpSocket *socket, StationSimulator *station)
        : QObject(station), m_station(station), m_socket(socket)
    {
        ++station->m_open;
        socket->setParent(this);
        // Small writes go out at once, not gathered while an ACK is due.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &Connection::pump);
        connect(socket, &QTcpSocket::readyRead, this, &Connection::readRequest);
        connect(socket, &QTcpSocket::bytesWritten, this, [this] {
            if (std::exchange(m_draining, false))
                pump();
        });
        connect(socket, &QTcpSocket::disconnected, this, [this] {
            --m_station->m_open;
            deleteLater();
        });
    }

private:
    void readRequest()
    {
        m_head += m_socket->readAll();
        const qsizetype end = m_head.indexOf("\r\n\r\n");
        if (end < 0 || std::exchange(m_answering, true))
            return;
        const QList<QByteArray> lines = m_head.first(end).replace("\r\n", "\n").split('\n');
        Request request{lines.first(), lines.first().split(' ').value(1), lines.mid(1)};
        m_route = m_station->m_routes.value(
            request.target, Route::page("HTTP/1.0 404 Not Found", "text/plain", "Not found\n"));
        m_station->m_requests.append(request);
        Q_EMIT m_station->requestReceived(request.target);
        if (m_route.statusLine) {
            m_pending = *m_route.statusLine + m_route.lineEnd;
            for (const auto &[name, value] : m_route.headerFields)
                m_pending += name + ": " + value + m_route.lineEnd;
            m_pending += m_route.lineEnd;
        }
        if (!m_route.audio)
            m_pending += m_route.body;
        m_limit = std::min(m_route.closeAfterAudio.value_or(endless),
                           m_route.stallAfterAudio.value_or(endless));
        m_clock.start();
        pump();
    }

    // The next at most size bytes of the answer; empty at its end.
    QByteArray take(qint64 size)
    {
        while (m_route.audio && m_pending.size() < size && m_body.next(m_pending, m_limit)) {
        }
        const QByteArray out = m_pending.first(std::min<qint64>(size, m_pending.size()));
        m_pending.remove(0, out.size());
        return out;
    }

    void pump()
    {
        const int chunk = m_route.maxChunk;
        const qint64 rate = m_route.bytesPerSecond;
        while (m_socket->state() == QAbstractSocket::ConnectedState) {
            if (m_socket->bytesToWrite() >= highWater) {
                m_draining = true;
                return;
            }
            const qint64 size = chunk > 0  ? (m_random() % 4 ? 1 + m_random() % chunk : 1)
                                : rate > 0 ? std::max<qint64>(1, rate / m_route.writesPerSecond)
                                           : largeWrite;
            if (rate > 0) {
                const qint64 wait = (m_written + size) * 1000 / rate - m_clock.elapsed();
                if (wait > 0)
                    return m_timer.start(static_cast<int>(wait));
            }
            const QByteArray data = take(size);
            if (data.isEmpty()) {
                if (m_route.stallAfterAudio != m_limit) // a stalled stream stays open
                    m_socket->disconnectFromHost();
                return;
            }
            m_written += m_socket->write(data);
            if (chunk > 0 || rate > 0) {
                m_socket->flush();
                return m_timer.start(0); // one write a pass, so that each may arrive alone
            }
        }
    }

    StationSimulator *m_station;
    QTcpSocket *m_socket;
    QTimer m_timer;
    QByteArray m_head;
    bool m_answering = false;
    bool m_draining = false;
    Route m_route;
    AudioBody m_body{m_route};
    qint64 m_limit = endless; // of audio bytes
    QByteArray m_pending;
    qint64 m_written = 0;
    std::minstd_rand m_random;
    QElapsedTimer m_clock;
};

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
    Route route = page("HTTP/1.1 " + QByteArray::number(status) + " Moved", "text/html", "moved\n");
    route.headerFields += {{"Location", location}, {"Connection", "close"}};
    return route;
}

Route Route::stream(std::optional<QByteArray> statusLine, qint64 metaInterval)
{
    Route route;
    route.statusLine = std::move(statusLine);
    route.headerFields = {{"Content-Type", "audio/mpeg"}};
    if (metaInterval > 0)
        route.headerFields.append({"icy-metaint", QByteArray::number(metaInterval)});
    route.audio = true;
    route.metaInterval = metaInterval;
    return route;
}

StationSimulator::StationSimulator(QObject *parent)
    : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection())
            new Connection(socket, this);
    });
}

bool StationSimulator::start()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 StationSimulator::port() const
{
    return m_server->serverPort();
}

QString StationSimulator::url(QStringView path) const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port()) + path.toString();
}

QByteArray StationSimulator::audioBytes(qint64 from, qint64 count)
{
    // The bytes repeat every 251 * 256; two periods hold a period from any phase.
    constexpr qint64 period = 251 * 256;
    static const QByteArray twoPeriods = [] {
        QByteArray bytes(2 * period, Qt::Uninitialized);
        for (qint64 i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
        return bytes;
    }();
    QByteArray out;
    for (qint64 at = from; at < from + count; at += period)
        out += QByteArrayView(twoPeriods).sliced(at % period, std::min(period, from + count - at));
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
    AudioBody body{route};
    while (body.next(out, audioCount)) {
    }
    return out;
}

std::optional<qsizetype> StationSimulator::titleIndexAt(const Route &route, qint64 audioOffset)
{
    if (route.metaInterval <= 0 || route.titles.isEmpty() || audioOffset < route.metaInterval)
        return std::nullopt;
    if (route.titleInterval <= 0)
        return 0;
    return audioOffset / route.metaInterval * route.metaInterval / route.titleInterval %
           route.titles.size();
}
