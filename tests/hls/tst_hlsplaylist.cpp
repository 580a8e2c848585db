// The HLS playlist reader: which bodies are HLS, the variant to follow, the
// segments with what is in force for each, and hostile or oversized playlists.
#include <QTest>

#include "hls/hlsplaylist.h"
#include "testmain.h"

using namespace Qt::StringLiterals;

namespace {

const QUrl base(u"http://radio.test/live/index.m3u8"_s);

QString relative(const QUrl &url)
{
    return url.isEmpty() ? u"-"_s : url.toString().remove(u"http://radio.test/live/"_s);
}

// One aspect of the playlist as text, a word a segment; an IV shows as its last two bytes.
QString summary(const QByteArray &aspect, const HlsPlaylist &p)
{
    if (aspect == "kind")
        return QStringList{u"not"_s, u"master"_s, u"media"_s}.at(int(p.kind));
    if (aspect == "follow")
        return relative(p.audioPlaylist().value_or(QUrl()));
    if (aspect == "limits")
        return u"%1/%2/%3"_s.arg(p.segments.size()).arg(p.variants.size()).arg(p.linesDropped);
    QStringList words;
    for (const HlsPlaylist::Segment &s : p.segments) {
        const auto range = aspect == "keys" ? s.mapRange : s.byteRange;
        QString word = QString::number(s.sequence) + (s.discontinuity ? u"!:"_s : u":"_s);
        const QString iv = QString::fromLatin1(s.key.iv.value_or("").toHex().right(4));
        if (aspect == "segments")
            word += u"%1:%2:%3"_s.arg(s.durationMs).arg(s.title, relative(s.uri));
        if (aspect == "keys")
            word +=
                u"%1:%2:%3:%4"_s.arg(s.key.methodName, relative(s.key.uri), iv, relative(s.map));
        if (range)
            word += u"@%1+%2"_s.arg(range->offset).arg(range->length);
        for (const HlsPlaylist::TimedTitle &t : s.dateRangeTitles)
            word += u"@%1:%2#%3"_s.arg(t.offsetMs).arg(t.title, t.id);
        words.append(word);
    }
    return words.join(u' ');
}

} // namespace

class TestHlsPlaylist : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Rows are named "<aspect>: <case>". Bodies are written short: "|" ends a line, "'" is a
    // double quote, "#X-" is "#EXT-X-".
    void parse_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("read");
        const auto row = [](const char *name, const QByteArray &body, const char *read) {
            QTest::newRow(name) << body << QString::fromUtf8(read);
        };
        const QByteArray media = "#EXTM3U|#X-TARGETDURATION:10|";
        // Read, media and the pad end three bytes before maxBytes: "#EXT-X-" is longer.
        const QByteArray pad = '#' + QByteArray(HlsPlaylist::maxBytes - 38, '-') + '|';
        row("kind: BOM, CRLF", "\xEF\xBB\xBF \r|#EXTM3U\r|#X-TARGETDURATION:6\r|", "media");
        row("kind: both is master", media + "#X-STREAM-INF:BANDWIDTH=1|a|", "master");
        row("kind: header not first", "#X-TARGETDURATION:6|#EXTM3U|", "not");
        row("kind: M3U", "#EXTM3U|#EXTINF:-1,A|http://a/s|#X-TARGETDURATIONS:6|", "not");
        row("kind: tag across maxBytes", "#EXTM3U|" + pad + "#X-TARGETDURATION:6666666666", "not");
        row("follow: highest audio; quoted comma, file: skipped",
            "#EXTM3U|#X-STREAM-INF:BANDWIDTH=64000,CODECS='mp4a.40.5'|lo|"
            "#X-STREAM-INF:BANDWIDTH=128000|hi|#X-STREAM-INF:CODECS='mp4a,avc1',BANDWIDTH=900000|v|"
            "#X-STREAM-INF:BANDWIDTH=999999|file:///etc/passwd|",
            "hi");
        const QByteArray video = "#EXTM3U|#X-STREAM-INF:BANDWIDTH=9,CODECS='hvc1.1,mp4a'|v9|"
                                 "#X-STREAM-INF:BANDWIDTH=5,CODECS='avc1.4d'|v5|";
        row("follow: video only, highest", video, "v9");
        row("follow: default rendition",
            video + "#X-MEDIA:TYPE=AUDIO,GROUP-ID='a',URI='en'|"
                    "#X-MEDIA:TYPE=AUDIO,NAME='de',DEFAULT=YES,URI='de'|",
            "de");
        row("segments: numbers, durations, titles",
            media + "#X-MEDIA-SEQUENCE:7\r|\r|# c\r|"
                    "#EXTINF:9.009, A - B, C \r|a\r|#X-DISCONTINUITY|#EXTINF:10,|b|",
            "7:9009:A - B, C:a 8!:10000::b");
        row("segments: ranges follow their resource",
            media + "#X-BYTERANGE:100@5|a|#X-BYTERANGE:50|b|"
                    "#X-BYTERANGE:50|a|c|#X-BYTERANGE:9|a|",
            "0:0::a@5+100 1:0::b@0+50 2:0::a@105+50 3:0::c 4:0::a@155+9");
        row("segments: web URIs resolved, one skipped keeps its number",
            media + "../hi/a|#X-DISCONTINUITY|file:///x|/b|//cdn.test/c|HTTPS://cdn.test/d|"
                    "ftp://e|http:g|",
            "0:0::http://radio.test/hi/a 2!:0::http://radio.test/b 3:0::http://cdn.test/c "
            "4:0::https://cdn.test/d");
        row("keys: kept until the next, NONE clears",
            media + "#X-KEY:METHOD=AES-128,URI='k/1',IV=0x1F|a|b|#X-KEY:METHOD=NONE|c|",
            "0:AES-128:k/1:001f:- 1:AES-128:k/1:001f:- 2:NONE:-::-");
        const QByteArray drm = "#X-KEY:METHOD=SAMPLE-AES,KEYFORMAT='skd',URI='skd://k'|";
        row("keys: plain one over DRM, file: key, map; file: map skips",
            media + "#X-MAP:URI='i',BYTERANGE='700@20'|#X-KEY:METHOD=AES-128,URI='k',IV=0xZZ|" +
                drm + "a|#X-KEY:METHOD=AES-128,URI='file:///k'|b|" + drm +
                "c|#X-MAP:URI='file:///i'|d|",
            "0:AES-128:k::i@20+700 1:AES-128:-::i@20+700 2:SAMPLE-AES:-::i@20+700");
        const QByteArray ten = "#EXTINF:10,|a|#EXTINF:10,|b|";
        const QByteArray date = "#X-PROGRAM-DATE-TIME:2026-12-09T10:00:00Z|";
        const auto range = [](const char *start, const char *title) {
            return "#X-DATERANGE:ID='" + QByteArray(title) + "',START-DATE='2026-12-09T" + start +
                   "Z',X-ARTIST='A',X-TITLE='" + title + "'|";
        };
        row("titles: inside, before, past, repeated",
            media + date + range("10:00:10", "in") + ten + range("09:00", "early") +
                range("10:00:30", "late") + range("10:00:01", "in"),
            "0:@0:A - early#early 1:@0:A - in#in@10000:A - late#late");
        row("titles: timed back, TITLE, no ID",
            media + "#EXTINF:10,|a|" + date + ten +
                "#X-DATERANGE:START-DATE='2026-12-09T09:59:55Z',TITLE='T'|",
            "0:@5000:T# 1: 2:");
        row("titles: no date-times", media + ten + range("10:00:12", "x"), "0:@0:A - x#x 1:");
        row("limits: segments, variants", media + ten.repeated(5001) + video.repeated(101),
            "10000/200/4");
        row("limits: URI across maxBytes", media + pad + "abcdef|c", "0/0/2");
    }
    void parse()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, read);
        body.replace('|', '\n').replace('\'', '"').replace("#X-", "#EXT-X-");
        const HlsPlaylist playlist = HlsPlaylist::parse(body, base);
        QCOMPARE(summary(QByteArray(QTest::currentDataTag()).split(':').first(), playlist), read);
        QCOMPARE(HlsPlaylist::isHls(body), playlist.kind != HlsPlaylist::Kind::NotHls);
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestHlsPlaylist)
#include "tst_hlsplaylist.moc"
