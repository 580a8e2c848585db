#include <QJsonArray>
#include <QJsonObject>
#include <QTest>
#include <QTimer>

#include "model/keyedarchive.h"
#include "model/recording.h"
#include "platform/clock.h"

class TestRecording : public QObject
{
    Q_OBJECT

private:
    static std::unique_ptr<Recording> roundTrip(const Recording &source)
    {
        KeyedArchiver archiver;
        source.encodeWithCoder(archiver);
        return Recording::initWithCoder(KeyedUnarchiver(archiver.object()));
    }

    static void fillEveryField(Recording &r)
    {
        r.url = QStringLiteral("http://radio.example:8000/stream");
        r.playList = QStringLiteral("Evenings");
        r.customTitle = QStringLiteral("Quiet Hour");
        r.customArtist = QStringLiteral("Host");
        r.customAlbum = QStringLiteral("Archive");
        r.customGenre = QStringLiteral("Jazz");
        r.daily = true;
        r.once = true;
        r.recCount = -1;
        r.splitSongs = true;
        r.reconnect = true;
        r.splitTitle = false;
        r.keepPartial = true;
        r.startTime = 1439;
        r.duration = 1440;
        r.shoutLang = 513;
        r.days = {true, false, true, false, false, true, true};
        r.logText = QStringLiteral("earlier line\n");
    }

private Q_SLOTS:
    void init()
    {
        // Tuesday morning: far from any start the tests arm.
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 1), QTime(3, 0)); });
    }
    void cleanup() { Clock::reset(); }

    void newRecordHasTheDefaults()
    {
        const auto r = Recording::initWithName(QStringLiteral("Morning Show"));
        QCOMPARE(r->name, QStringLiteral("Morning Show"));
        QCOMPARE(r->url, QStringLiteral("http://"));
        QCOMPARE(r->playList, QStringLiteral("My Skyvane Recordings"));
        QCOMPARE(r->customArtist, QStringLiteral("Skyvane"));
        QCOMPARE(r->customGenre, QStringLiteral("Skyvane"));
        QVERIFY(r->customTitle.isEmpty() && r->customAlbum.isEmpty());
        QVERIFY(r->splitTitle);
        QVERIFY(!r->daily && !r->once && !r->splitSongs && !r->reconnect && !r->keepPartial);
        QCOMPARE(r->recCount, 1000);
        QCOMPARE(r->startTime, 600);
        QCOMPARE(r->duration, 60);
        QCOMPARE(r->shoutLang, 134217984);
        QCOMPARE(r->days, (std::array<bool, 7>{}));
        QVERIFY(r->logText.isEmpty());
        QVERIFY(!r->inProgress);
        QVERIFY(!r->timer);
    }

    void cloneCopiesSettingsButNotLogOrTimer()
    {
        auto source = Recording::initWithName(QStringLiteral("Jazz"));
        fillEveryField(*source);
        source->schedule();
        QVERIFY(source->timer);

        const auto clone = Recording::initWithRecording(*source, QStringLiteral("Jazz 2"));
        QCOMPARE(clone->name, QStringLiteral("Jazz 2"));
        KeyedArchiver a, b;
        source->encodeWithCoder(a);
        clone->encodeWithCoder(b);
        QJsonObject left = a.object(), right = b.object();
        for (auto *o : {&left, &right}) {
            o->remove(QStringLiteral("name"));
            o->remove(QStringLiteral("log"));
        }
        QCOMPARE(left, right);
        QVERIFY(clone->logText.isEmpty());
        QVERIFY(!clone->timer);
        QVERIFY(!clone->nextDate.isValid());
    }

    void storedRecordReadsBackWhole()
    {
        auto source = Recording::initWithName(QStringLiteral("Every Field"));
        fillEveryField(*source);
        source->inProgress = true; // a capture in progress is stored as idle
        KeyedArchiver archiver;
        source->encodeWithCoder(archiver);
        const QStringList expectedKeys = {
            QStringLiteral("name"),         QStringLiteral("url"),
            QStringLiteral("playList"),     QStringLiteral("customTitle"),
            QStringLiteral("customArtist"), QStringLiteral("customAlbum"),
            QStringLiteral("customGenre"),  QStringLiteral("daily"),
            QStringLiteral("once"),         QStringLiteral("recCount"),
            QStringLiteral("splitSongs"),   QStringLiteral("reconnect"),
            QStringLiteral("splitTitle"),   QStringLiteral("keepPartial"),
            QStringLiteral("startTime"),    QStringLiteral("duration"),
            QStringLiteral("shoutLang"),    QStringLiteral("days"),
            QStringLiteral("log")};
        QStringList keys = archiver.object().keys();
        keys.sort();
        QStringList sortedExpected = expectedKeys;
        sortedExpected.sort();
        QCOMPARE(keys, sortedExpected);

        const auto read = Recording::initWithCoder(KeyedUnarchiver(archiver.object()));
        KeyedArchiver again;
        read->encodeWithCoder(again);
        // The read-back record scheduled itself, which adds to its log.
        QJsonObject original = archiver.object(), reread = again.object();
        original.remove(QStringLiteral("log"));
        reread.remove(QStringLiteral("log"));
        QCOMPARE(reread, original);
        QVERIFY(read->logText.startsWith(QStringLiteral("earlier line\n")));
        QVERIFY(!read->inProgress);
        QVERIFY(read->timer);
    }

    void oldOrOddFilesFallBackToDefaults()
    {
        QJsonObject stored;
        stored.insert(QStringLiteral("name"), QStringLiteral("Old"));
        stored.insert(QStringLiteral("duration"), QStringLiteral("ninety")); // wrong type
        stored.insert(QStringLiteral("days"), QJsonArray{1, 0, 1});          // short
        stored.insert(QStringLiteral("unknown"), 5);
        const auto old = Recording::initWithCoder(KeyedUnarchiver(stored));
        QCOMPARE(old->name, QStringLiteral("Old"));
        QCOMPARE(old->duration, 60);
        QCOMPARE(old->playList, QStringLiteral("My Skyvane Recordings"));
        QCOMPARE(old->days, (std::array<bool, 7>{true, false, true, false, false, false, false}));

        stored.insert(QStringLiteral("days"), QJsonArray{0, 0, 0, 0, 0, 0, 1, 1, 1});
        const auto longDays = Recording::initWithCoder(KeyedUnarchiver(stored));
        QCOMPARE(longDays->days,
                 (std::array<bool, 7>{false, false, false, false, false, false, true}));
    }

    void orderIgnoresLetterCase()
    {
        const auto upper = Recording::initWithName(QStringLiteral("JAZZ"));
        const auto lower = Recording::initWithName(QStringLiteral("jazz"));
        const auto a = Recording::initWithName(QStringLiteral("a"));
        const auto b = Recording::initWithName(QStringLiteral("B"));
        QCOMPARE(upper->compareTo(*lower), 0);
        QCOMPARE(a->compareTo(*b), -1);
        QCOMPARE(b->compareTo(*a), 1);
    }
};

QTEST_GUILESS_MAIN(TestRecording)
#include "tst_recording.moc"
