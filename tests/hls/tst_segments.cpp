// HLS segments: titles in ID3 tags, AES-128 decryption, and the audio of
// packed, MPEG-TS and fMP4 segments made by ffmpeg's muxers.
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include "hls/id3tag.h"
#include "hls/segmentcipher.h"
#include "hls/segmentdemuxer.h"
#include "audiofixtures.h"
#include "testmain.h"

using namespace Qt::StringLiterals;
using AudioFixtures::Segment;
using Container = SegmentAudio::Container;

namespace {

// Four bytes, big-endian; syncsafe (seven bits a byte) for tag headers and
// v2.4 frames, up to 16383.
QByteArray sizeBytes(qsizetype size, bool syncsafe = true)
{
    return QByteArray::fromHex(
        QByteArray::number(size + (syncsafe ? (size >> 7) * 128 : 0), 16).rightJustified(8, '0'));
}

QByteArray frame(const QByteArray &id, const QByteArray &content, int version = 4)
{
    return id + sizeBytes(content.size(), version == 4) + QByteArray(2, 0) + content;
}

QByteArray tag(const QByteArray &frames, int version = 4, char flags = 0)
{
    return "ID3" + QByteArray(1, char(version)) + '\0' + flags + sizeBytes(frames.size()) + frames;
}

const QByteArray songTag = tag(frame("TPE1", "\0Caf\xe9 Band"_ba) + frame("TIT2", "\0Song"_ba));

// Frames from offset 0 in order of place and time, each at a frame sync; an
// error exactly when there is no audio.
void verifyFrames(const SegmentAudio &audio)
{
    QVERIFY(audio.error.isEmpty() != audio.audio.isEmpty());
    QCOMPARE(audio.frames.isEmpty(), audio.audio.isEmpty());
    SegmentAudio::Frame last{-1, 0};
    for (const SegmentAudio::Frame &f : audio.frames) {
        QVERIFY(f.offset > last.offset && f.timeMs >= last.timeMs &&
                audio.audio.at(f.offset) == '\xff');
        last = f;
    }
    QCOMPARE(audio.frames.isEmpty() ? 0 : audio.frames[0].offset, 0);
}

} // namespace

class TestSegments : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void id3Tags_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // a tag, then audio
        QTest::addColumn<qsizetype>("length");
        QTest::addColumn<QString>("title");
        const auto row = [](const char *name, const QByteArray &tag, qsizetype length,
                            const QString &title) {
            QTest::newRow(name) << tag + "\xff\xf1 audio" << length << title;
        };
        const QByteArray stamp =
            frame("PRIV", "com.apple.streaming.transportStreamTimestamp\0x"_ba);
        const QByteArray footed = tag(frame("TIT2", "\3Foot"_ba), 4, 0x10);
        row("Latin-1 artist and title", songTag, 45, u"Café Band - Song"_s);
        row("v2.4 syncsafe frame size", tag(frame("TIT2", QByteArray(1, 0) + QByteArray(200, 'a'))),
            221, QString(200, u'a'));
        row("v2.3 plain size, UTF-16",
            tag(frame("TIT2", "\1\xff\xfe" + "j&"_ba.repeated(70), 3), 3), 163, QString(70, u'♪'));
        row("UTF-16BE artist alone", tag(frame("TPE1", "\2\0A\0B"_ba)), 25, u"AB"_s);
        row("TXXX StreamTitle", tag(stamp + frame("TXXX", "\3streamTITLE\0X - Y"_ba)), 94,
            u"X - Y"_s);
        row("timestamp only", tag(stamp), 66, {});
        row("footer", footed + "3DI" + footed.sliced(3, 7), 35, u"Foot"_s);
        row("v2.3 extended header",
            tag("\0\0\0\6"_ba + QByteArray(6, 0) + frame("TIT2", "\0Ext"_ba, 3), 3, 0x40), 34,
            u"Ext"_s);
        row("v2.2", tag("TT2\0\0\4\0Old"_ba, 2), 20, {});
        row("frame past the end", tag(frame("TIT2", "\0Song"_ba).chopped(2)), 23, {});
        row("unsynchronised", tag("TIT2\0\0\0\4\0\0\0a\xff\0z"_ba, 3, char(0x80)), 25, u"aÿz"_s);
        row("cut short", songTag.first(30), 0, {});
        row("size not syncsafe", "ID3\4\0\0\0\0\0\xff"_ba, 0, {});
    }
    void id3Tags()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qsizetype, length);
        QCOMPARE(Id3Tag::length(bytes), length);
        QTEST(Id3Tag::songTitle(bytes.first(length)).value_or(QString()), "title");
    }

    void cipher()
    {
        const QByteArray key = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
        const QByteArray iv = SegmentCipher::sequenceIv(0x0102);
        QCOMPARE(iv.toHex(), "00000000000000000000000000000102");
        const QByteArray plain = QByteArray("segment ").repeated(125);
        QProcess openssl;
        openssl.start(u"openssl"_s,
                      {u"enc"_s, u"-aes-128-cbc"_s, u"-K"_s, QString::fromLatin1(key.toHex()),
                       u"-iv"_s, QString::fromLatin1(iv.toHex())});
        openssl.write(plain);
        openssl.closeWriteChannel();
        QVERIFY(openssl.waitForFinished());
        const QByteArray encrypted = openssl.readAllStandardOutput();
        QString error;
        QCOMPARE(SegmentCipher::decrypt(encrypted, key, iv, &error), plain);
        // The 8 bytes of padding, 0x08 each, end in 0x00 when the block before has that bit
        // flipped.
        QByteArray badPadding = encrypted;
        badPadding[badPadding.size() - 17] ^= 0x08;
        using Case = std::tuple<QByteArray, QByteArray, QByteArray>; // text, key, IV
        for (const auto &[text, k, v] :
             std::initializer_list<Case>{{badPadding, key, iv},
                                         {encrypted, key.chopped(1), iv},
                                         {encrypted, key, iv.first(8)},
                                         {encrypted.chopped(1), key, iv}}) {
            error.clear();
            QVERIFY(!SegmentCipher::decrypt(text, k, v, &error) && !error.isEmpty());
        }
    }

    void demux_data()
    {
        QTest::addColumn<QByteArray>("segment");
        QTest::addColumn<QByteArray>("init");
        QTest::addColumn<Container>("container");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<qint64>("titleMs"); // -1: no title
        using AudioFixtures::hlsSegment, AudioFixtures::programme, AudioFixtures::Codec;
        QByteArray init;
        const QByteArray mp4 = hlsSegment(Segment::Mp4Aac, 2, &init);
        QTest::newRow("packed AAC") << songTag + programme(Codec::Aac, {{2}}) << QByteArray()
                                    << Container::Packed << u"AAC"_s << 0LL;
        QTest::newRow("MPEG-TS AAC, timed ID3")
            << hlsSegment(Segment::TsAac, 2, nullptr, songTag) << QByteArray()
            << Container::TransportStream << u"AAC"_s << 1000LL;
        QTest::newRow("MPEG-TS MP3") << hlsSegment(Segment::TsMp3, 2) << QByteArray()
                                     << Container::TransportStream << u"MP3"_s << -1LL;
        QTest::newRow("fMP4 AAC") << mp4 << init << Container::Mp4 << u"AAC"_s << -1LL;
    }
    void demux()
    {
        QFETCH(QByteArray, segment);
        QFETCH(QByteArray, init);
        QFETCH(qint64, titleMs);
        const SegmentAudio audio = SegmentDemuxer::demux(segment, init);
        QVERIFY2(audio.error.isEmpty(), qPrintable(audio.error));
        QTEST(audio.container, "container");
        QTEST(audio.codec, "codec");
        verifyFrames(audio);
        // AAC as ffmpeg encodes it, in ADTS whatever carried it: LC, 44.1 kHz, mono.
        QVERIFY(audio.codec != u"AAC"_s || audio.audio.startsWith("\xff\xf1\x50\x40"));
        // Two seconds, give or take the encoder's priming and a frame.
        QVERIFY(qAbs(AudioFixtures::decodedMs(audio.audio) - 2000) < 60);
        QVERIFY(qAbs(audio.frames.last().timeMs - 2000) < 60);
        QCOMPARE(audio.titles.size(), titleMs < 0 ? 0 : 1);
        for (const SegmentAudio::Title &t : audio.titles)
            QVERIFY(t.title == u"Café Band - Song"_s && audio.offsetAt(titleMs) <= t.offset &&
                    t.offset <= audio.offsetAt(titleMs + 50));
        // Damaged and cut copies: audio or an error, never a crash.
        QRandomGenerator random(7);
        for (int i = 0; i < 40 && !QTest::currentTestFailed(); ++i) {
            QByteArray broken = segment.first(random.bounded(int(segment.size())) + 1);
            for (int j = 0; j < 8; ++j)
                broken[random.bounded(int(broken.size()))] = char(random.generate());
            verifyFrames(SegmentDemuxer::demux(broken, init));
        }
    }

    // Tags between frames name the frame after them; other bytes are dropped.
    void packedTagsBetweenFrames()
    {
        const QByteArray aac = AudioFixtures::programme(AudioFixtures::Codec::Aac, {{0.5}});
        const QByteArray next = tag(frame("TIT2", "\3Next"_ba));
        const SegmentAudio audio =
            SegmentDemuxer::demux(songTag + aac + "junk" + next + aac + "\xff\xf1"_ba);
        QCOMPARE(audio.audio, aac + aac);
        QCOMPARE(audio.titles.size(), 2);
        QCOMPARE(audio.titles[1].offset, aac.size());
        QCOMPARE(audio.titles[1].title, u"Next"_s);
    }

    void unreadable()
    {
        QByteArray init;
        const QByteArray mp4 = AudioFixtures::hlsSegment(Segment::Mp4Aac, 1, &init);
        const QByteArray ts = AudioFixtures::hlsSegment(Segment::TsAac, 1);
        using Case = std::pair<QByteArray, QByteArray>; // segment, init section
        for (const auto &[segment, initSection] :
             std::initializer_list<Case>{{QByteArray(), {}},
                                         {"#EXTM3U\nnot audio"_ba, {}},
                                         {"ID3"_ba, QByteArray(SegmentDemuxer::maxBytes, 0)},
                                         {songTag.first(30), {}},
                                         {ts.first(3 * 188), {}},
                                         {QByteArray(188, 0x47), {}},
                                         {mp4, {}},
                                         {"\0\0\0\x08moof"_ba, init}}) {
            const SegmentAudio audio = SegmentDemuxer::demux(segment, initSection);
            QVERIFY(audio.audio.isEmpty() && !audio.error.isEmpty());
        }
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestSegments)
#include "tst_segments.moc"
