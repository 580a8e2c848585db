// The web page's cost to the recorder: how long the list's answer takes with
// N recordings (each with a full log, which the answer leaves out), its size,
// and how long a login holds the event loop (the password's slow hash).
// A page polls the list every two seconds.
//
//   bench_web [RECORDINGS] [REQUESTS]   (defaults 1000 and 50)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "model/recordinglist.h"
#include "web/webpassword.h"
#include "web/webserver.h"

namespace {

const QByteArray password = "bench password";

// One request on a connection of its own; the whole answer, read by its length.
QByteArray exchange(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.waitForConnected(10000);
    socket.write(request);
    socket.waitForBytesWritten(10000);
    QByteArray got;
    while (socket.waitForReadyRead(10000)) {
        got += socket.readAll();
        const qsizetype end = got.indexOf("\r\n\r\n");
        const qsizetype at = got.indexOf("Content-Length: ");
        if (end >= 0 && at >= 0 &&
            got.size() >= end + 4 + got.mid(at + 16, 12).split('\r').first().toLongLong())
            break;
    }
    return got;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home(QDir::currentPath() + QStringLiteral("/bench-web-XXXXXX"));
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int requests = argc > 2 ? std::atoi(argv[2]) : 50;

    RecordingList list;
    for (int i = 0; i < count; ++i) {
        RecordingSettings settings;
        settings.name = QStringLiteral("Station %1").arg(i);
        settings.url = QStringLiteral("http://radio%1.example.org:8000/stream").arg(i);
        settings.daily = true;
        settings.log = QString(RecordingSettings::logLimit - 100, u'x');
        list.append(std::make_unique<Recording>(settings))->schedule();
    }
    QElapsedTimer clock;
    clock.start();
    const QByteArray hash = WebPassword::hash(password);
    const double hashMs = clock.nsecsElapsed() / 1e6;
    WebServer server(list, hash, QUrl());
    if (!server.listen({QHostAddress(QHostAddress::LocalHost), 0}).isEmpty())
        return 1;
    const QByteArray origin = "127.0.0.1:" + QByteArray::number(server.port());
    const QByteArray host = "Host: " + origin + "\r\n";

    std::vector<double> times;
    qsizetype bytes = 0;
    std::thread client([&] {
        const QByteArray body = "{\"password\": \"" + password + "\"}";
        const QByteArray in = exchange(
            server.port(), "POST /api/login HTTP/1.1\r\n" + host + "Origin: http://" + origin +
                               "\r\nContent-Length: " + QByteArray::number(body.size()) +
                               "\r\n\r\n" + body);
        const QByteArray cookie = in.mid(in.indexOf("skyvane_session=")).split(';').first();
        for (int i = 0; i < requests; ++i) {
            QElapsedTimer each;
            each.start();
            bytes = exchange(server.port(), "GET /api/recordings HTTP/1.1\r\n" + host +
                                                "Cookie: " + cookie + "\r\n\r\n")
                        .size();
            times.push_back(each.nsecsElapsed() / 1e6);
        }
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    client.join();
    std::printf("recordings: %d\nlist answer: %.1f ms median of %d, %.1f ms the slowest, %lld "
                "bytes\npassword hash (a login holds the loop as long): %.0f ms\n",
                count, median(times), requests, *std::max_element(times.begin(), times.end()),
                static_cast<long long>(bytes), hashMs);
    return 0;
}
