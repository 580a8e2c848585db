#include <QDir>
#include <QFile>
#include <QFileInfo>
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
// A recording name long enough that made file names must be cut.
// It would lead out of the track folder if it were not cleaned.
const QString base = u"../Desk %d "_s + QString(250, u'y');
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
        QTest::newRow("leading dots, what FAT refuses")
            << u"clean"_s << u"..~.Why? <a*b> | c.d."_s << u"Why_ _a_b_ _ c.d."_s;
        QTest::newRow("fit, pair never split") << u"fit"_s << u"ab"_s + clef.repeated(60) + u'x'
                                               << u"ab"_s + clef.repeated(60) + u".mp3"_s;
        QTest::newRow("safe empty") << u"safe"_s << QString() << u"_"_s;
        QTest::newRow("safe dot dot") << u"safe"_s << u".."_s << u"__"_s;
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
        QTest::addColumn<QString>("streamTitle"); // empty: made up from `base` and the time
        QTest::addColumn<qint64>("written");
        QTest::addColumn<int>("interval");
        // 0 complete, 1 incomplete, 2 incomplete and kept, 3 removed while written
        QTest::addColumn<int>("end");
        // A file there beforehand that must stay as it is; "/": the track folder
        // is a plain file, so that open fails even for root.
        QTest::addColumn<QString>("existing");
        QTest::addColumn<QString>("file"); // the track left, "" none
        QTest::addColumn<qint64>("onDisk");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("log"); // then why a track was lost, as the outcome says
        const QString song = u"Writing data to Song.mp3\n"_s;
        const QString song2 = u"Writing data to Song (2).mp3\n"_s;
        QTest::newRow("262144 stays, judged before the cut")
            << u"Song"_s << 262144LL << 8192 << 0 << QString() << u"Song.mp3"_s << 262144LL - 8192
            << u"Song"_s << song + u"File size is 262144 bytes\n"_s;
        // A long made name loses the end of its base, never the date or counter.
        const QString date = u"_Mar_01_2026__12_05PM"_s;
        const QString made = u"_Desk %d "_s + QString(208, u'y') + date + u" (2).mp3"_s;
        QTest::newRow("made title, name taken, one interval is not cut")
            << QString() << 300000LL << 300000 << 0
            << u"_Desk %d "_s + QString(212, u'y') + date + u".mp3"_s << made << 300000LL
            << base + u" - Mar 01, 2026 12:05PM"_s
            << u"Writing data to "_s + made + u"\nFile size is 300000 bytes\n"_s;
        QTest::newRow("incomplete deleted, the earlier track stays")
            << u"Song"_s << 300000LL << -1 << 1 << u"Song.mp3"_s << QString() << 0LL << u"Song"_s
            << song2 + u"Deleting the last (incomplete) shoutcast song\n"
                       u"the last song was cut short and deleted as incomplete"_s;
        // The name is cut so that "Start of " still fits in 255 bytes.
        const QString xs(235, u'x'), cut = u"AC_DC_ "_s + xs + u".mp3"_s;
        QTest::newRow("incomplete kept, cleaned long name, renamed beside a taken one")
            << u"AC/DC: "_s + xs + u"xx"_s << 300000LL << 1000 << 2 << u"Start of "_s + cut
            << u"Start of AC_DC_ "_s + xs.left(231) + u" (2).mp3"_s << 299000LL
            << u"Start of AC/DC: "_s + xs + u"xx"_s
            << u"Writing data to "_s + cut + u"\nFile size is 300000 bytes\n"_s;
        QTest::newRow("incomplete kept, 262143 is tiny")
            << u"Song"_s << 262143LL << -1 << 2 << QString() << QString() << 0LL
            << u"Start of Song"_s
            << song + u"Data size is tiny (262143 bytes), deleting song\n"
                      u"the track was too short to keep (under 256 KB)"_s;
        QTest::newRow("removed while written")
            << u"Song"_s << 300000LL << -1 << 3 << QString() << QString() << 0LL << u"Song"_s
            << song + u"File access error: "_s + TrackWriter::folder() +
                   u"/Song.mp3 was removed while it was written\n"
                   u"the track file was deleted during the recording"_s;
        QTest::newRow("open fails")
            << u"Song"_s << 300000LL << -1 << 0 << u"/"_s << QString() << 0LL << u"Song"_s
            << u"FileOpenFailed "_s + TrackWriter::folder() + u"/Song.mp3: Not a directory"_s;
    }
    void tracks()
    {
        QFETCH(QString, streamTitle);
        QFETCH(qint64, written);
        QFETCH(int, interval);
        QFETCH(int, end);
        QFETCH(QString, existing);
        QFETCH(QString, file);
        QFETCH(qint64, onDisk);
        QFETCH(QString, title);
        QFETCH(QString, log);
        const QString folder = TrackWriter::folder() + u'/';
        const bool blocked = existing == u"/";
        QVERIFY(QDir().mkpath(blocked ? QFileInfo(TrackWriter::folder()).path() : folder));
        QFile old(blocked ? TrackWriter::folder() : folder + existing);
        if (!existing.isEmpty())
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        QString lines;
        TrackWriter writer([&lines](const QString &line) { lines += line; });
        try {
            writer.open(streamTitle, base, noon, u".mp3"_s);
        } catch (const NamedFailure &failure) {
            lines += failure.name() + u' ' + failure.reason();
        }
        const QByteArray data = StationSimulator::audioBytes(0, written);
        writer.write(QByteArrayView(data).first(1000));
        writer.write(QByteArrayView(data).sliced(1000));
        if (end == 3)
            QVERIFY(QDir(folder).removeRecursively() && writer.wasRemoved());
        const auto track = writer.close(end == 1 || end == 2, end == 2, interval);
        // Closed: nothing more is written, kept or logged.
        writer.write("x");
        QVERIFY(!writer.close(true, true, 0));
        QCOMPARE(lines + writer.lossReason(), log);
        QCOMPARE(writer.title(), title);
        QStringList left = QStringList{existing, file}.filter(u".mp3"_s); // the named tracks
        left.sort();
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::System), left);
        if (!existing.isEmpty())
            QCOMPARE(QFileInfo(old).size(), 3);
        QCOMPARE(track.has_value(), !file.isEmpty());
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
