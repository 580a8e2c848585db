#include "stationsimulator.h"

#include <algorithm>
#include <limits>
#include <random>

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

namespace {

using Route = StationSimulator::Route;

constexpr qint64 endless = std::numeric_limits<qint64>::max();
constexpr qint64 largeWrite = 64 * 1024;
constexpr qint64 highWater = 256 * 1024;

// A length byte L, then "StreamTitle='<title>';" zero-padded to 16 * L bytes.
QByteArray metadataBlock(QByteArrayView title)
{
    QByteArray text = "StreamTitle='" + title.toByteArray() + "';";
    text.truncate(255 * 16);
    const qsizetype blocks = (text.size() + 15) / 16;
    text.resize(blocks * 16, '\0');
    return static_cast<char>(blocks) + text;
}

// count bytes from offset `from` of `bytes` repeated end to end.
QByteArray repeated(QByteArrayView bytes, qint64 from, qint64 count)
{
    QByteArray out;
    while (out.size() < count) {
        const qint64 phase = (from + out.size()) % bytes.size();
        out += bytes.sliced(phase, std::min(bytes.size() - phase, count - out.size()));
    }
    return out;
}

// The index into route.titleSchedule, or else route.titles, of the title
// announced before this audio byte; none before the first block.
std::optional<qsizetype> titleIndexAt(const Route &route, qint64 audioOffset)
{
    if (route.metaInterval <= 0 || audioOffset < route.metaInterval)
        return std::nullopt;
    const qint64 block = audioOffset / route.metaInterval * route.metaInterval;
    const auto &schedule = route.titleSchedule;
    qsizetype due = 0;
    while (due < schedule.size() && schedule[due].first <= block)
        ++due;
    if (!schedule.isEmpty())
        return due > 0 ? std::optional<qsizetype>(due - 1) : std::nullopt;
    if (route.titles.isEmpty())
        return std::nullopt;
    return route.titleInterval > 0 ? block / route.titleInterval % route.titles.size() : 0;
}

// An audio route's body, stretch by stretch, exactly as wireBody says.
struct AudioBody
{
    const Route &route;
    qint64 audio = 0;
    std::optional<qsizetype> announced{};

    // Appends audio and the metadata blocks within it until out holds size
    // bytes or limit audio bytes are out.
    void fill(QByteArray &out, qint64 size, qint64 limit)
    {
        const qint64 interval = route.metaInterval > 0 ? route.metaInterval : endless;
        while (out.size() < size && audio < limit) {
            const qint64 count = std::min({limit - audio, largeWrite, interval - audio % interval});
            out += route.programme.isEmpty() ? StationSimulator::audioBytes(audio, count)
                                             : repeated(route.programme, audio, count);
            audio += count;
            if (audio % interval != 0 || audio == limit)
                continue;
            const std::optional<qsizetype> index = titleIndexAt(route, audio);
            const bool same = !index || std::exchange(announced, index) == index;
            const auto &schedule = route.titleSchedule;
            out += same                 ? QByteArray(1, '\0')
                   : schedule.isEmpty() ? metadataBlock(route.titles.at(*index))
                                        : metadataBlock(schedule.at(*index).second);
        }
    }
};

} // namespace

// One client: reads its request, then writes the route's answer.
class StationSimulator::Connection : public QTcpSocket
{
public:
    Connection(qintptr socket, StationSimulator *station) : QTcpSocket(station)
    {
        setSocketDescriptor(socket);
        // Small writes go out at once, not gathered while an ACK is due.
        setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(this, &QTcpSocket::readyRead, this, &Connection::readRequest);
        connect(this, &QTcpSocket::bytesWritten, this, [this] {
            if (std::exchange(m_draining, false))
                pump();
        });
        connect(this, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    }

private:
    void readRequest()
    {
        m_head += readAll();
        const qsizetype end = m_head.indexOf("\r\n\r\n");
        if (end < 0 || m_clock.isValid()) // incomplete, or answered
            return;
        auto *const station = static_cast<StationSimulator *>(parent());
        const QList<QByteArray> lines = m_head.first(end).replace("\r\n", "\n").split('\n');
        const QByteArray target = lines.first().split(' ').value(1);
        m_route = station->m_routes.value(
            target, Route::page("HTTP/1.0 404 Not Found", "text/plain", "Not found\n"));
        station->m_requests.append({lines.first(), lines.mid(1)});
        Q_EMIT station->requestReceived(target);
        if (m_route.statusLine) {
            m_pending = *m_route.statusLine + m_route.lineEnd;
            for (const auto &[name, value] : m_route.headerFields)
                m_pending += name + ": " + value + m_route.lineEnd;
            m_pending += m_route.lineEnd;
        }
        m_pending += m_route.body;
        const qint64 programmeEnd = m_route.programme.isEmpty() || m_route.stallAfterAudio
                                        ? endless
                                        : m_route.programme.size();
        m_limit = m_route.audio ? std::min(m_route.closeAfterAudio.value_or(programmeEnd),
                                           m_route.stallAfterAudio.value_or(endless))
                                : 0;
        m_clock.start();
        pump();
    }

    void pump()
    {
        const int chunk = m_route.maxChunk;
        const qint64 rate = m_route.bytesPerSecond;
        while (state() == QAbstractSocket::ConnectedState) {
            m_draining = bytesToWrite() >= highWater; // go on once it has gone out
            if (m_draining)
                return;
            const qint64 size = chunk > 0  ? (m_random() % 4 ? 1 + m_random() % chunk : 1)
                                : rate > 0 ? std::max<qint64>(1, rate / m_route.writesPerSecond)
                                           : largeWrite;
            const qint64 wait = rate > 0 ? (m_written + size) * 1000 / rate - m_clock.elapsed() : 0;
            if (wait > 0)
                return QTimer::singleShot(std::chrono::milliseconds(wait), this, &Connection::pump);
            m_body.fill(m_pending, size, m_limit);
            if (m_pending.isEmpty()) {
                if (!m_route.stallAfterAudio)
                    disconnectFromHost();
                return;
            }
            const QByteArray data = m_pending.first(std::min<qint64>(size, m_pending.size()));
            m_pending.remove(0, data.size());
            m_written += write(data);
            if (chunk > 0 || rate > 0) {
                flush();
                // One write a pass, so that each may arrive alone.
                return QTimer::singleShot(0, this, &Connection::pump);
            }
        }
    }

    QByteArray m_head;
    bool m_draining = false;
    Route m_route;
    AudioBody m_body{m_route};
    qint64 m_limit = 0; // of audio bytes
    QByteArray m_pending;
    qint64 m_written = 0;
    std::minstd_rand m_random;
    QElapsedTimer m_clock; // valid once answering
};

void StationSimulator::incomingConnection(qintptr socket)
{
    new Connection(socket, this);
}

Route Route::page(const QByteArray &statusLine, const QByteArray &contentType,
                  const QByteArray &body)
{
    return {.statusLine = statusLine,
            .headerFields = {{"Content-Type", contentType},
                             {"Content-Length", QByteArray::number(body.size())}},
            .body = body};
}

Route Route::redirect(int status, const QByteArray &location)
{
    Route route = page("HTTP/1.1 " + QByteArray::number(status) + " Moved", "text/html", "moved\n");
    route.headerFields.append({"Location", location});
    return route;
}

Route Route::stream(std::optional<QByteArray> statusLine, qint64 metaInterval)
{
    Route route{.statusLine = std::move(statusLine),
                .headerFields = {{"Content-Type", "audio/mpeg"}},
                .audio = true,
                .metaInterval = metaInterval};
    if (metaInterval > 0)
        route.headerFields.append({"icy-metaint", QByteArray::number(metaInterval)});
    return route;
}

QByteArray StationSimulator::audioBytes(qint64 from, qint64 count)
{
    // The bytes repeat every 251 * 256.
    static const QByteArray period = [] {
        QByteArray bytes(251 * 256, Qt::Uninitialized);
        for (qint64 i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
        return bytes;
    }();
    return repeated(period, from, count);
}

QByteArray StationSimulator::wireBody(const Route &route, qint64 audioCount)
{
    QByteArray out;
    AudioBody{route}.fill(out, endless, audioCount);
    return out;
}
