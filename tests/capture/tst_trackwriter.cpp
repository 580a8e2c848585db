#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTest>

#include "capture/trackname.h"
#include "capture/trackwriter.h"
#include "platform/failures.h"
#include "stationsimulator.h"
#include "testmain.h"

using namespace Qt::StringLiterals;

namespace {

const QDateTime noon(QDate(2026, 3, 1), QTime(12, 5));
// Four bytes of UTF-8, two UTF-16 units.
const QString clef = u"\U0001D11E"_s;

} // namespace

class TestTrackWriter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Names must not follow the desktop language.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void init() { QDir(TrackWriter::folder()).removeRecursively(); }

    // Made names are checked by the track rows.
    void naming_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("refused and control characters")
            << u"clean"_s << u"A/B\\C:D'E\"F~G\tКино\x01\n"_s << u"A_B_C_D_E_FGКино"_s;
        QTest::newRow("nothing left") << u"clean"_s << u"~\x02"_s << u"Untitled"_s;
        QTest::newRow("fit, pair never split") << u"fit"_s << u"ab"_s + clef.repeated(60) + u'x'
                                               << u"ab"_s + clef.repeated(60) + u".mp3"_s;
        QTest::newRow("safe empty") << u"safe"_s << QString() << u"_"_s;
        QTest::newRow("safe dot") << u"safe"_s << u"."_s << u"_"_s;
        QTest::newRow("safe dot dot") << u"safe"_s << u".."_s << u"__"_s;
        QTest::newRow("safe three dots stay") << u"safe"_s << u"..."_s << u"..."_s;
        QTest::newRow("safe slash, NUL, tab") << u"safe"_s << u"a/b\0c\td\\e"_s << u"a_b_c_d\\e"_s;
        QTest::newRow("safe to 240") << u"safe"_s << clef.repeated(60) + u'x' << clef.repeated(60);
    }
    void naming()
    {
        QFETCH(QString, rule);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(rule == u"clean" ? TrackName::cleanStreamTitle(input)
                 : rule == u"fit" ? TrackName::fitFileName(input, u".mp3"_s, 246)
                                  : TrackName::fileNameSafe(input),
                 expected);
    }

    void tracks_data()
    {
        QTest::addColumn<QString>("streamTitle"); // empty: made up from "Desk %d" and the time
        QTest::addColumn<qint64>("written");
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("end"); // 0 complete, 1 incomplete, 2 incomplete and kept
        // The track left ("" none), there beforehand as a stale file to be replaced.
        // Ending in '/': a folder there instead, so that open fails even for root.
        QTest::addColumn<QString>("file");
        QTest::addColumn<qint64>("onDisk");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("log");
        const QString song = u"Writting data to Song.mp3\n"_s;
        QTest::newRow("262144 stays, judged before the cut")
            << u"Song"_s << 262144LL << 8192 << 0 << u"Song.mp3"_s << 262144LL - 8192 << u"Song"_s
            << song + u"File size is 262144 bytes\n"_s;
        QTest::newRow("made title, one interval is not cut")
            << QString() << 300000LL << 300000 << 0 << u"Desk %d_Mar_01_2026__12_05PM.mp3"_s
            << 300000LL << u"Desk %d - Mar 01, 2026 12:05PM"_s
            << u"Writting data to Desk %d_Mar_01_2026__12_05PM.mp3\nFile size is 300000 bytes\n"_s;
        QTest::newRow("incomplete deleted")
            << u"Song"_s << 300000LL << -1 << 1 << QString() << 0LL << u"Song"_s
            << song + u"Deleting the last (incomplete) shoutcast song\n"_s;
        // The name is cut so that "Start of " still fits in 255 bytes.
        const QString xs(235, u'x'), cut = u"AC_DC_ "_s + xs + u".mp3"_s;
        QTest::newRow("incomplete kept, cleaned long name")
            << u"AC/DC: "_s + xs + u"xx"_s << 300000LL << 1000 << 2 << u"Start of "_s + cut
            << 299000LL << u"Start of AC/DC: "_s + xs + u"xx"_s
            << u"Writting data to "_s + cut + u"\nFile size is 300000 bytes\n"_s;
        QTest::newRow("incomplete kept, 262143 is tiny")
            << u"Song"_s << 262143LL << -1 << 2 << QString() << 0LL << u"Start of Song"_s
            << song + u"Data size is tiny (262143 bytes), deleting song\n"_s;
        QTest::newRow("open fails")
            << u"Song"_s << 300000LL << -1 << 0 << u"Song.mp3/"_s << 0LL << u"Song"_s
            << song + u"FileOpenFailed "_s + TrackWriter::folder() + u"/Song.mp3"_s;
    }
    void tracks()
    {
        QFETCH(QString, streamTitle);
        QFETCH(qint64, written);
        QFETCH(int, interval);
        QFETCH(int, end);
        QFETCH(QString, file);
        QFETCH(qint64, onDisk);
        QFETCH(QString, title);
        QFETCH(QString, log);
        const QString folder = TrackWriter::folder() + u'/';
        const bool blocked = file.endsWith(u'/');
        QVERIFY(QDir().mkpath(blocked ? folder + file : folder));
        if (!file.isEmpty() && !blocked)
            QVERIFY(QFile(folder + file).open(QIODevice::WriteOnly));
        QString lines;
        TrackWriter writer([&lines](const QString &line) { lines += line; });
        try {
            writer.open(streamTitle, u"Desk %d"_s, noon, u".mp3"_s);
        } catch (const NamedFailure &failure) {
            lines += failure.name() + u' ' + failure.reason();
        }
        const QByteArray data = StationSimulator::audioBytes(0, written);
        writer.write(QByteArrayView(data).first(1000));
        writer.write(QByteArrayView(data).sliced(1000));
        const auto track = writer.close(end > 0, end > 1, interval);
        // Closed: nothing more is written, kept or logged.
        writer.write("x");
        QVERIFY(!writer.close(true, true, 0));
        QCOMPARE(lines, log);
        QCOMPARE(writer.title(), title);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::System),
                 file.isEmpty() || blocked ? QStringList() : QStringList{file});
        QCOMPARE(track.has_value(), !file.isEmpty() && !blocked);
        if (!track)
            return;
        QCOMPARE(track->path, folder + file);
        QCOMPARE(track->madeTitle, streamTitle.isEmpty());
        QCOMPARE(track->size, written);
        QFile kept(track->path);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), data.left(onDisk));
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestTrackWriter)
#include "tst_trackwriter.moc"
