#include <QRandomGenerator>
#include <QTest>

#include "capture/icydemuxer.h"
#include "capture/playlisttarget.h"
#include "capture/stationheaders.h"
#include "stationsimulator.h"
#include "testmain.h"

using namespace Qt::StringLiterals;

namespace {

// What a demuxer gave out. Events carry the audio offset they came at, so only
// the cutting of audio into runs is left out.
struct Outcome final : IcyDemuxer::Receiver
{
    QByteArray audio;
    QByteArrayList events;

    void audioReceived(QByteArrayView bytes) override { audio += bytes; }
    void inBandHeadReceived(QByteArrayView head) override { event("head ", head); }
    void titleBlockReceived(QByteArrayView block, bool first) override
    {
        event(first ? "first " : "title ", block);
    }
    void event(const char *kind, QByteArrayView bytes = {})
    {
        events += QByteArray::number(audio.size()) + ' ' + kind + bytes.toByteArray();
    }
};

constexpr auto audioAt = &StationSimulator::audioBytes;

// A row for a station's body up to `count` audio bytes, after an in-band `head`
// if one is given, blocks as StationSimulator::Route places them. A title event
// comes at each change, with the block's zero padding and one more '\0'.
void addStationRow(const char *name, const QByteArray &head, qint64 interval, qint64 count,
                   const QByteArrayList &titles = {}, qint64 titleInterval = 0, bool repeat = false)
{
    auto route = StationSimulator::Route::stream("ICY 200 OK", interval);
    route.titles = titles;
    route.titleInterval = titleInterval;
    route.repeatTitle = repeat;
    QByteArrayList events = head.isEmpty() ? QByteArrayList() : QByteArrayList{"0 head " + head};
    std::optional<qsizetype> last;
    for (qint64 at = interval; at > 0 && at < count; at += interval) {
        const std::optional<qsizetype> index = StationSimulator::titleIndexAt(route, at);
        if (index != last)
            events += QByteArray::number(at) + (last ? " title " : " first ") +
                      StationSimulator::metadataBlock(titles[*index]).mid(1) + '\0';
        last = index;
    }
    const QByteArray body = StationSimulator::wireBody(route, count);
    QTest::newRow(name) << (head.isEmpty() ? body : head + "\r\n" + body)
                        << qint32(head.isEmpty() ? interval : 0) << audioAt(0, count) << events
                        << qint32(interval);
}

} // namespace

class TestIcyDemuxer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void demultiplexes_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<qint32>("announced"); // 0: none, the body is sniffed
        QTest::addColumn<QByteArray>("audio");
        QTest::addColumn<QByteArrayList>("events");
        QTest::addColumn<qint32>("interval");
        addStationRow("interval 1", {}, 1, 40, {"A", "Bee"}, 3);
        addStationRow("interval 16", {}, 16, 700, {"A", "B"}, 48);
        addStationRow("interval 8192, repeated", {}, 8192, 100000, {"One", "Two"}, 30000, true);
        addStationRow("no metadata", {}, -1, 9000);

        // Blocks here are a length byte of 1 and 16 bytes of text.
        const QByteArray a = audioAt(0, 100), b = audioAt(100, 100), c = audioAt(200, 100);
        const QByteArray title = "StreamTitle='X';", lower = "streamtitle='x';";
        QTest::newRow("empty block, then lower-case title")
            << a + '\0' + b + '\1' + lower + c << 100 << a + b + c
            << QByteArrayList{"200 first " + lower + '\0'} << 100;
        QTest::newRow("lost sync after a title")
            << a + '\1' + title + b + "\1garbage, no titl" + c << 100 << a + b
            << QByteArrayList{"100 first " + title + '\0', "200 lost sync"} << 100;

        QTest::newRow("sniffed: 4095 bytes held")
            << audioAt(0, 4095) << 0 << QByteArray() << QByteArrayList() << 0;
        QTest::newRow("sniffed: exactly 4096")
            << audioAt(0, 4096) << 0 << audioAt(0, 4096) << QByteArrayList() << -1;
        const QByteArray head = "ICY 200 OK\r\nicy-name: x\r\nicy-metaint: 8192\r\n";
        addStationRow("sniffed: in-band head sets the interval", head, 8192, 30000, {"S"});
        const QByteArray noHead = "ICY 200 OK\r\n" + audioAt(0, 5000);
        QTest::newRow("sniffed: no blank line") << noHead << 0 << noHead << QByteArrayList() << -1;
    }
    void demultiplexes()
    {
        QFETCH(QByteArray, wire);
        QFETCH(qint32, announced);
        QFETCH(QByteArray, audio);
        QFETCH(QByteArrayList, events);
        QFETCH(qint32, interval);
        // Whole, then chunks of 1..maxChunk bytes, seeded by maxChunk.
        for (const int maxChunk : {0, 1, 3, 17, 5000}) {
            Outcome out;
            IcyDemuxer demuxer(out);
            if (announced != 0)
                demuxer.setInterval(announced);
            QRandomGenerator random(maxChunk);
            bool lost = false; // the capture stops at the first lost sync
            for (qsizetype at = 0, size = 0; at < wire.size() && !lost; at += size) {
                size = std::min<qsizetype>(maxChunk ? random.bounded(1, maxChunk + 1) : wire.size(),
                                           wire.size() - at);
                lost = demuxer.feed(QByteArrayView(wire).sliced(at, size)) ==
                       IcyDemuxer::Result::LostSync;
            }
            if (lost)
                out.event("lost sync");
            QCOMPARE(out.audio, audio);
            QCOMPARE(demuxer.audioBytes(), qint64(audio.size()));
            QCOMPARE(out.events, events);
            QCOMPARE(demuxer.interval(), interval);
            // What was sniffed and not taken as metadata stays readable, e.g.
            // as a playlist.
            if (announced == 0 && interval <= 0)
                QCOMPARE(demuxer.heldBytes(), wire.left(4096));
        }
    }

    // What a station sends besides audio. Header fields are read from an
    // in-band head, which goes through the reading of a response's fields.
    void stationText_data()
    {
        QTest::addColumn<QByteArray>("rule");
        QTest::addColumn<QByteArray>("text");
        // head: interval|genre|mime type|extension; "-" and "none": nothing.
        QTest::addColumn<QString>("read");
        const auto row = [](const char *rule, const char *name, QByteArrayView text,
                            const char *read) {
            QTest::addRow("%s: %s", rule, name)
                << QByteArray(rule) << text.toByteArray() << QString::fromUtf8(read);
        };
        row("head", "aacp; parameter", "Content-Type: audio/aacp;x\r\n", "-|-|audio/aacp|.aac");
        row("head", "ogg", "content-type: Application/OGG\r\n", "-|-|application/ogg|.ogg");
        row("head", "empty genre", "icy-genre:\r\n", "-|||.mp3");
        row("head", "metaint 0", "icy-metaint: 0\r\n", "-1|-||.mp3");
        row("head", "metaint abc", "icy-metaint: abc\r\n", "-1|-||.mp3");
        row("head", "later field wins",
            "icy-metaint: 8192\r\nICY-METAINT: 16000\r\nicy-genre: A\r\nicy-genre:  Jazz \r\n"
            "content-type: audio/mpeg\r\nContent-Type: audio/x-aac\r\n",
            "16000|Jazz|audio/x-aac|.aac");
        row("head", "unterminated line", "icy-metaint: 8192\r\nicy-genre: Jazz", "8192|-||.mp3");
        row("type", "any case", "AUDIO/AAC", ".aac");
        row("type", "ogg, any case", "Application/OGG", ".ogg");
        row("type", "only whole types", "audio/aac+", ".mp3");
        row("url", "PLS https first", "[playlist]\nFile1=https://s\nFile2=http://p\n", "https://s");
        row("url", "M3U", "#EXTM3U\r\n#EXTINF:-1,A\r\nHTTPS://b/s\r\n", "HTTPS://b/s");
        row("url", "control char ends it", "http://p/1 https://s/2\x01", "http://p/1 https://s/2");
        row("url", "format char ends it", "http://a/b\xe2\x80\x8e", "http://a/b");
        row("url", "no URL", "<html>Not found</html>", "none");
        row("url", "invalid UTF-8", "http://a/\xff\n", "none");
        row("url", "zero byte ends the body", QByteArrayView("http://a/b\0\xff", 12), "http://a/b");
    }
    void stationText()
    {
        QFETCH(QByteArray, rule);
        QFETCH(QByteArray, text);
        QFETCH(QString, read);
        const StationHeaders head = StationHeaders::fromInBandHead(QString::fromLatin1(text));
        const QString mime = head.mimeType.value_or(QString());
        const QString parsed =
            QStringList{head.metaInterval ? QString::number(*head.metaInterval) : u"-"_s,
                        head.genre.value_or(u"-"_s), mime, StationHeaders::extensionFor(mime)}
                .join(u'|');
        QCOMPARE(rule == "url"    ? PlaylistTarget::first(text).value_or(u"none"_s)
                 : rule == "type" ? StationHeaders::extensionFor(QString::fromLatin1(text))
                                  : parsed,
                 read);
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestIcyDemuxer)
#include "tst_icydemuxer.moc"
