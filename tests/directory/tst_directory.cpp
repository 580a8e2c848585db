// The directory's answers read as other people's data, and the addresses
// Skyvane asks it for.
#include <QTest>

#include "directory/directoryapi.h"
#include "directory/directoryclient.h"
#include "stationsimulator.h"
#include "testmain.h"

using namespace Qt::StringLiterals;

class TestDirectory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsStations_data()
    {
        QTest::addColumn<QByteArray>("entry"); // one station's JSON, single quotes for double
        QTest::addColumn<QString>("read"); // name|stream|tags|genre|codec bitrate|check; "-": none
        const auto row = [](const char *name, const char *entry, const QString &read) {
            QTest::newRow(name) << QByteArray(entry).replace('\'', '"') << read;
        };
        row("whole",
            "{'stationuuid': 'u', 'name': 'Jazz FM', 'url': 'http://a/pls', 'url_resolved': "
            "'https://b/live', 'tags': 'smooth jazz, ,blues', 'codec': 'MP3', 'bitrate': 128, "
            "'lastcheckok': 1}",
            u"Jazz FM|https://b/live|smooth jazz,blues|Smooth jazz|MP3 128|1"_s);
        row("resolved address refused",
            "{'stationuuid': 'u', 'name': 'A', 'url': 'http://a/', 'url_resolved': "
            "'javascript:alert(1)', 'bitrate': -5}",
            u"A|http://a/||| 0|0"_s);
        row("no usable address", "{'stationuuid': 'u', 'name': 'A', 'url': 'file:///etc/passwd'}",
            u"-"_s);
        row("no uuid", "{'name': 'A', 'url': 'http://a/'}", u"-"_s);
        row("uuid that leaves its path", "{'stationuuid': '../x', 'name': 'A', 'url': 'http://a/'}",
            u"-"_s);
        row("markup stays text, controls go, a bitrate past int goes",
            "{'stationuuid': 'u', 'name': '<b>R&B</b>\\u0007\\n\\u2028 Live', 'url': 'http://a/', "
            "'bitrate': 2147483648}",
            u"<b>R&B</b> Live|http://a/||| 0|0"_s);
    }
    void readsStations()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QString, read);
        const QList<DirectoryStation> stations = DirectoryApi::stationsFromJson('[' + entry + ']');
        QString shown = u"-"_s;
        if (!stations.isEmpty()) {
            const DirectoryStation &s = stations.first();
            shown = QStringList{s.name,
                                s.streamUrl,
                                s.tags.join(u','),
                                s.genre(),
                                s.codec + u' ' + QString::number(s.bitrate),
                                QString::number(s.lastCheckOk)}
                        .join(u'|');
        }
        QCOMPARE(shown, read);
    }

    // Terms escaped, broken stations hidden, best voted first, one page.
    void makesAddresses()
    {
        const QUrl base(u"https://de1.api.example.org/"_s);
        const StationFilter filter{u"Jazz & Blues"_s, u"smooth"_s, {}, {}, u"mp3"_s, 128, 50, 9999};
        QCOMPARE(DirectoryApi::searchUrl(base, filter).toString(QUrl::FullyEncoded),
                 u"https://de1.api.example.org/json/stations/search?name=Jazz%20%26%20Blues&"
                 "tag=smooth&codec=mp3&bitrateMin=128&hidebroken=true&order=votes&reverse=true&"
                 "offset=50&limit=500"_s);
        QCOMPARE(DirectoryApi::clickUrl(QUrl(u"https://de1.api.example.org/?a=1#b"_s), u"96-1e8"_s)
                     .toString(),
                 u"https://de1.api.example.org/json/url/96-1e8"_s);
        const QByteArray servers =
            QByteArray("[{'name': 'DE1.api.example.org'}, {'name': 'de1.api.example.org'}, "
                       "{'name': 'x/../y'}, {'name': 'fr1.api.example.org'}, 7]")
                .replace('\'', '"');
        QCOMPARE(DirectoryApi::serversFromJson(servers, QUrl(u"http://all.example.org:81"_s)),
                 (QList<QUrl>{QUrl(u"http://de1.api.example.org:81"_s),
                              QUrl(u"http://fr1.api.example.org:81"_s)}));
    }

    void searches_data()
    {
        QTest::addColumn<QByteArray>("servers"); // the server list's answer; "" none (404)
        QTest::addColumn<QByteArray>("answer");  // the search's; "" none (404)
        QTest::addColumn<QString>("told");       // the names found, or the reason
        const QByteArray localhost = QByteArray("[{'name': 'localhost'}]").replace('\'', '"');
        const QByteArray three =
            QByteArray("[{'stationuuid': '1', 'name': 'A', 'url': 'http://a/'}, {'stationuuid': "
                       "'2', 'name': 'B', 'url': 'file:///b'}, {'stationuuid': '3', 'name': 'C', "
                       "'url': 'https://c/'}]")
                .replace('\'', '"');
        QTest::newRow("found on a listed server") << localhost << three << u"A|C"_s;
        QTest::newRow("no list: the address given") << QByteArray() << three << u"A|C"_s;
        const QString unreached = u"The directory could not be reached: "_s;
        QTest::newRow("not found")
            << localhost << QByteArray() << unreached + u"it answered with status 404."_s;
        QTest::newRow("not JSON")
            << localhost << QByteArray("<html>")
            << u"The directory could not be searched: the directory's answer is not JSON"_s;
        QTest::newRow("not a list") << localhost << QByteArray("{\"a\": 1}")
                                    << u"The directory could not be searched: the directory's "
                                       "answer is not a list of stations"_s;
        QTest::newRow("too large") << localhost << QByteArray(5 << 20, ' ')
                                   << unreached + u"its answer is larger than 4 MB."_s;
    }
    // Against a directory on 127.0.0.1; every request says who asks.
    void searches()
    {
        QFETCH(QByteArray, servers);
        QFETCH(QByteArray, answer);
        QFETCH(QString, told);
        StationSimulator directory;
        QVERIFY(directory.start());
        const QUrl base(directory.url(u""));
        const auto json = [](const QByteArray &body) {
            return StationSimulator::Route::page("HTTP/1.1 200 OK", "application/json", body);
        };
        if (!servers.isEmpty())
            directory.setRoute("/json/servers", json(servers));
        StationFilter filter;
        filter.name = u"jazz"_s;
        const QUrl server =
            servers.isEmpty() ? base : QUrl(u"http://localhost:%1"_s.arg(directory.port()));
        if (!answer.isEmpty())
            directory.setRoute(DirectoryApi::searchUrl(server, filter)
                                   .toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority),
                               json(answer));
        DirectoryClient client(base);
        QString result;
        QObject::connect(&client, &DirectoryClient::stationsFound, &client,
                         [&result](const QList<DirectoryStation> &stations) {
                             QStringList names;
                             for (const DirectoryStation &station : stations)
                                 names << station.name;
                             result = names.join(u'|');
                         });
        QObject::connect(&client, &DirectoryClient::searchFailed, &client,
                         [&result](const QString &reason) { result = reason; });
        client.search(filter);
        QTRY_VERIFY(!result.isEmpty());
        QVERIFY2(result.startsWith(told), qPrintable(result));
        // The search went to the server the list named.
        QVERIFY(directory.requests().last().headerLines.join('\n').contains(
            servers.isEmpty() ? "Host: 127.0.0.1:" : "Host: localhost:"));
        for (const StationSimulator::Request &request : directory.requests())
            QVERIFY(request.headerLines.contains("User-Agent: Skyvane/" SKYVANE_VERSION));
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestDirectory)
#include "tst_directory.moc"
