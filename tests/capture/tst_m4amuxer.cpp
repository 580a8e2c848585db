// The .m4a muxer against FFmpeg's own reader: real ADTS AAC in, fed in
// pieces that split frames; what comes out must decode whole and name itself
// MP4 AAC. Frames of another stream and garbage are refused.
#include <QProcess>
#include <QTest>

#include "audio/audioframe.h"
#include "capture/m4amuxer.h"
#include "audiofixtures.h"
#include "testmain.h"

using namespace Qt::StringLiterals;

namespace {

// "codec format" as ffprobe names them.
QString probe(const QByteArray &bytes)
{
    QProcess ffprobe;
    ffprobe.start(u"ffprobe"_s, {u"-v"_s, u"error"_s, u"-show_entries"_s,
                                 u"format=format_name:stream=codec_name"_s, u"-of"_s,
                                 u"default=nw=1:nk=1"_s, u"-"_s});
    ffprobe.write(bytes);
    ffprobe.closeWriteChannel();
    ffprobe.waitForFinished(60000);
    return QString::fromUtf8(ffprobe.readAllStandardOutput()).simplified();
}

} // namespace

class TestM4aMuxer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writesADecodableFragmentedFile()
    {
        const QByteArray adts = AudioFixtures::programme(AudioFixtures::Codec::Aac, {{6.0}});
        QByteArray m4a;
        M4aMuxer muxer([&m4a](QByteArrayView bytes) { m4a += bytes; });
        QString error;
        for (qsizetype at = 0; at < adts.size(); at += 1001) // splits frames
            QVERIFY2(muxer.write(adts.mid(at, 1001), &error), qPrintable(error));
        QVERIFY(m4a.contains("moof")); // fragments go out before the end
        QVERIFY(muxer.finish(&error));
        QCOMPARE(probe(m4a), u"aac mov,mp4,m4a,3gp,3g2,mj2"_s);
        QVERIFY(AudioFixtures::decodedMs(m4a) > 0);
        QCOMPARE(AudioFixtures::decodedMs(m4a), AudioFixtures::decodedMs(adts));
        // Fragments of about two seconds: not one for the whole, not one a frame.
        QVERIFY(m4a.count("moof") >= 2 && m4a.count("moof") <= 6);
    }

    void takesCrcFramesAndRefusesAnotherStreamOrGarbage()
    {
        const QByteArray adts = AudioFixtures::programme(AudioFixtures::Codec::Aac, {{1.0}});
        QVERIFY(AudioFrame::at(adts, 0));
        const qsizetype length = AudioFrame::at(adts, 0)->length;
        // The first frame again with a CRC after its header: nine header bytes.
        QByteArray crc = adts.first(length);
        crc[1] = char(crc[1] & ~1);
        crc.insert(7, 2, '\0');
        crc[3] = char((crc[3] & 0xfc) | ((length + 2) >> 11));
        crc[4] = char((length + 2) >> 3);
        crc[5] = char((crc[5] & 0x1f) | (((length + 2) & 7) << 5));
        QByteArray at48k = adts.first(length);
        at48k[2] = char((at48k[2] & ~0x3c) | (3 << 2)); // sampling index 3: 48 kHz
        QByteArray m4a;
        M4aMuxer muxer([&m4a](QByteArrayView bytes) { m4a += bytes; });
        QString error;
        QVERIFY(muxer.write(crc, &error));
        QVERIFY(!muxer.write(adts.sliced(length, AudioFrame::at(adts, length)->length) + at48k,
                             &error));
        QVERIFY2(error.contains(u"48000 Hz"_s), qPrintable(error));
        QVERIFY(!muxer.write(QByteArray(5000, 'x'), &error));
        // A refused write takes nothing: the track goes on whole.
        QVERIFY(muxer.write(adts.sliced(length), &error));
        QVERIFY(muxer.finish(&error));
        QCOMPARE(AudioFixtures::decodedMs(m4a), AudioFixtures::decodedMs(adts));
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestM4aMuxer)
#include "tst_m4amuxer.moc"
