#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

#include "testfiles.h"
#include "model/recordinglist.h"
#include "platform/clock.h"
#include "testmain.h"

using namespace Qt::StringLiterals;

namespace {

// JSON written with single quotes, which keeps the tables readable.
QJsonObject jsonOf(const char *text)
{
    return QJsonDocument::fromJson(QByteArray(text).replace('\'', '"')).object();
}

// Every field at its default, as the list file holds it.
const char *const defaults =
    "{'name': '', 'url': 'http://', 'playList': 'My Skyvane Recordings', 'customTitle': '', "
    "'customArtist': 'Skyvane', 'customAlbum': '', 'customGenre': 'Skyvane', 'daily': false, "
    "'once': false, 'recCount': 1000, 'splitSongs': false, 'reconnect': false, 'splitTitle': "
    "true, 'keepPartial': false, 'startTime': 600, 'duration': 60, 'shoutLang': 134217984, "
    "'days': [0, 0, 0, 0, 0, 0, 0], 'minFreeMB': 500, 'log': '', 'fileNamePattern': '', "
    "'titleOffsetMs': 0, 'cutWindowMs': 3000}";

} // namespace

class TestModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void settingsFromJsonAndEditor()
    {
        // A key of the wrong JSON type keeps its default; days take at most seven entries.
        RecordingSettings s = RecordingSettings::fromJson(
            jsonOf("{'url': 5, 'once': 1, 'recCount': '9', 'startTime': 1.5, 'duration': 1e12, "
                   "'log': [], 'name': ' A ', 'daily': true, 'shoutLang': -1, 'unknown': 1, "
                   "'days': [1, 0, 2, 'x', 0, 0, 1, 1]}"));
        QVariantMap expected = jsonOf(defaults).toVariantMap();
        expected.insert(jsonOf("{'name': ' A ', 'daily': true, 'shoutLang': -1, "
                               "'days': [1, 0, 1, 0, 0, 0, 1]}")
                            .toVariantMap());
        QCOMPARE(s.toJson(), QJsonObject::fromVariantMap(expected));
        // Out of range on load: the time of day, and the end of an oversize log.
        const auto loaded = RecordingSettings::fromJson({{u"startTime"_s, -1441},
                                                         {u"log"_s, QString(30000, u'x') + u'!'},
                                                         {u"titleOffsetMs"_s, -30001},
                                                         {u"cutWindowMs"_s, 10001}});
        QCOMPARE(loaded.startTime, 1439);
        QVERIFY(loaded.titleOffsetMs == -30000 && loaded.cutWindowMs == 10000);
        QVERIFY(loaded.log.size() == 24000 && loaded.log.endsWith(u"x!"));
        QCOMPARE(RecordingSettings::fromJson({{u"startTime"_s, 2880}}).startTime, 0);
        // The editor trims inline whitespace at both ends, and reads a number from text.
        const QVariantMap edits{{u"name"_s, u"\t Morning\u00a0Show \n "_s},
                                {u"recCount"_s, u" 25 tracks"_s},
                                {u"days"_s, QVariantList{false, true}}};
        for (const RecordingSettings::Field &field : RecordingSettings::fields()) {
            if (const QVariant edit = edits.value(QString::fromLatin1(field.key)); edit.isValid())
                field.setValue(s, edit);
        }
        QCOMPARE(s.name, u"Morning\u00a0Show \n"_s);
        QCOMPARE(s.recCount, 25);
        QCOMPARE(s.days, (Weekdays{false, true, false, false, false, false, false}));
    }

    void recordingsAndNames()
    {
        Recording r(RecordingSettings::fromJson(jsonOf("{'daily': true}")));
        r.log(QString(15999, u'a'));
        r.log(u"b"_s);
        QCOMPARE(r.logText().size(), 16000); // not trimmed below the threshold
        r.log(u"%1 c"_s);
        QCOMPARE(r.logText(), QString(7999, u'a') + u"b%1 c"_s);
        // A stored log longer than the threshold loses the same first part.
        Recording stored(RecordingSettings::fromJson({{u"log"_s, QString(20000, u'x')}}));
        stored.log(QString(58, u'y'));
        QCOMPARE(stored.logText().size(), 12058);
        RecordingList list;
        for (const char *name :
             {"", "New Recording 1", "beta", "Alpha", "alpha 2", "New Recording 3"})
            list.append(r.clone(QString::fromUtf8(name)));
        // A clone takes the settings but not the log.
        QVERIFY(list.at(0)->settings().daily && list.at(0)->logText().isEmpty());
        r.setSettings(RecordingSettings());
        QVERIFY(r.logText().endsWith(u"b%1 c"_s)); // edits keep the log
        QVERIFY(list.contains(u"ALPHA"_s));
        QCOMPARE(list.unusedNewName(), u"New Recording 2"_s);
        QCOMPARE(list.unusedCloneName(u"Alpha"_s), u"Alpha 3"_s);
    }

    void listFile()
    {
        const QString path = RecordingList::filePath();
        RecordingList list;
        QSignalSpy problems(&list, &RecordingList::problem);
        writeFile(path, "[]");
        list.load();
        // A readable empty list is not a corrupt one, and an empty list never replaces a file.
        QVERIFY(list.isEmpty() && !list.store() && QFile::exists(path));

        // An unreadable file is moved aside, next to an older one.
        writeFile(path + u".corrupt"_s, "an older casualty");
        writeFile(path, "{ this is not a list");
        list.load();
        QVERIFY(!QFile::exists(path));
        QCOMPARE(fileContents(path + u".corrupt2"_s), QByteArray("{ this is not a list"));
        writeFile(path, "{\"a\": 1}");
        list.load();
        QVERIFY(list.isEmpty() && QFile::exists(path + u".corrupt3"_s));

        // A byte that is not UTF-8 costs one character; the original stays beside.
        writeFile(path, "[{\"name\": \"Caf\xe9\"}]");
        list.load();
        QCOMPARE(list.at(0)->name(), u"Caf\uFFFD"_s);
        QCOMPARE(fileContents(path + u".corrupt4"_s), QByteArray("[{\"name\": \"Caf\xe9\"}]"));
        // A repaired list without rows is never stored; each start finds the
        // same original, and one copy of it is kept.
        for (int start = 0; start < 2; ++start) {
            writeFile(path, "[\"\xff\"]");
            list.load();
        }
        QCOMPARE(fileContents(path + u".corrupt5"_s), QByteArray("[\"\xff\"]"));
        QVERIFY(!QFile::exists(path + u".corrupt6"_s));

        // Rows load in order; one that is not an object is skipped. A last
        // outcome the file garbled is none, and costs nothing else.
        const QDateTime now(QDate(2026, 12, 9), QTime(9, 0));
        Clock::setSource([now] { return now; });
        writeFile(path,
                  "[{\"name\": \"Zed\", \"daily\": true, \"lastOutcome\": {\"endedAt\": 5}}, 7, "
                  "{\"log\": \"old\\n\", \"lastOutcome\": {\"endedAt\": \"2026-12-09T09:00:00Z\", "
                  "\"tracksSaved\": 2, \"error\": []}}]");
        list.load();
        QCOMPARE(list.at(0)->name(), u"Zed"_s);
        QVERIFY(!list.at(0)->lastResult() && !list.at(1)->lastResult());
        QVERIFY(!list.at(0)->nextStart().isValid()); // loading does not schedule
        list.scheduleAll();
        QVERIFY(list.at(0)->nextStart().isValid());
        QCOMPARE(list.at(1)->logText(), u"old\nThe recording is disabled\n"_s);
        // A capture's outcome, stored with its end, comes back as it was; the
        // same next start is not logged again.
        list.at(1)->startCapture();
        QTRY_VERIFY(!list.at(1)->isCapturing());
        QVERIFY(list.store());
        const QByteArray stored = fileContents(path);
        QCOMPARE(QJsonDocument::fromJson(stored).array(),
                 QJsonArray({list.at(0)->toJson(), list.at(1)->toJson()}));
        list.load();
        list.scheduleAll();
        Clock::reset();
        QCOMPARE(list.at(1)->lastResult().value_or(Outcome()).endedAt, now);
        QCOMPARE(list.at(1)->state(), Recording::State::Failed);
        QCOMPARE(list.at(0)->logText().count(u"Next recording is at"_s), 1);

        // A store that fails, as on a full disk, leaves the old file whole.
        list.at(0)->log(QString(20000, u'x'));
        {
            const auto diskFull = lowerLimit(RLIMIT_FSIZE, stored.size() + 100);
            QVERIFY(!list.store());
        }
        QCOMPARE(problems.size(), 6); // two files moved aside, three repaired, one failed store
        QCOMPARE(fileContents(path), stored);
        QVERIFY(list.store() && fileContents(path).size() > 20000);
        // What cannot be opened at all (here a folder) is moved aside as well.
        QVERIFY(QFile::remove(path) && QDir().mkdir(path));
        list.load();
        QVERIFY(list.isEmpty() && QFileInfo(path + u".corrupt6"_s).isDir());
    }

    void rowSignals_data()
    {
        // On three rows: "+" appends, "-N" takes row N, "eN" edits row N, "x"
        // edits the row taken last, "l" loads a list file of two rows.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("told");
        QTest::newRow("append") << u"+ e3"_s << u"added 3|changed 3"_s;
        QTest::newRow("take") << u"-0 x e0 e1"_s << u"removing 0|removed 0|changed 0|changed 1"_s;
        QTest::newRow("append after a take")
            << u"-1 + e2"_s << u"removing 1|removed 1|added 2|changed 2"_s;
        QTest::newRow("load") << u"l e1"_s << u"resetting|reset|changed 1"_s;
    }
    // Each announcement names the row's index in the list at that moment.
    void rowSignals()
    {
        QFETCH(QString, steps);
        QFETCH(QString, told);
        writeFile(RecordingList::filePath(), "[{}, {}]");
        RecordingList list;
        for (int i = 0; i < 3; ++i)
            list.append(std::make_unique<Recording>());
        QStringList heard;
        const auto hear = [&list, &heard](auto signal, const char *what) {
            QObject::connect(&list, signal, &list, [&heard, what](auto... row) {
                heard.append(
                    QStringList{QString::fromLatin1(what), QString::number(row)...}.join(u' '));
            });
        };
        hear(&RecordingList::rowAdded, "added");
        hear(&RecordingList::rowAboutToBeRemoved, "removing");
        hear(&RecordingList::rowRemoved, "removed");
        hear(&RecordingList::rowChanged, "changed");
        hear(&RecordingList::aboutToReset, "resetting");
        hear(&RecordingList::reset, "reset");
        std::unique_ptr<Recording> taken;
        for (const QString &step : steps.split(u' ')) {
            const int row = step.mid(1).toInt();
            if (step == u"+")
                list.append(std::make_unique<Recording>());
            else if (step.startsWith(u'-'))
                taken = list.takeAt(row);
            else if (step == u"l")
                list.load();
            else
                (step == u"x" ? taken.get() : list.at(row))->setSettings({});
        }
        QCOMPARE(heard.join(u'|'), told);
        for (int i = 0; i < list.size(); ++i)
            QCOMPARE(list.indexOf(list.at(i)), i);
        QCOMPARE(list.indexOf(taken.get()), -1);
    }

    // Stores asked for in a storm write the file a handful of times, and the
    // latest state reaches it.
    void storeStorm()
    {
        RecordingList list;
        for (int i = 0; i < 300; ++i)
            list.append(std::make_unique<Recording>());
        QSignalSpy stored(&list, &RecordingList::stored);
        for (int i = 0; i < list.size(); ++i) {
            list.at(i)->log(u"ended\n"_s);
            list.storeSoon();
            QCoreApplication::processEvents();
        }
        list.flushStores();
        const qsizetype announced = stored.size(); // every write, the one under way too
        QCoreApplication::processEvents();
        QVERIFY2(announced == stored.size() && announced > 0 && announced < 30,
                 qPrintable(QString::number(stored.size())));
        const QJsonArray rows =
            QJsonDocument::fromJson(fileContents(RecordingList::filePath())).array();
        QCOMPARE(rows.size(), 300);
        for (const QJsonValue row : rows)
            QCOMPARE(row[u"log"].toString(), u"ended\n"_s);
        // The list going writes nothing: a store asked for while one runs is dropped.
        {
            RecordingList going;
            going.append(std::make_unique<Recording>());
            going.storeSoon();
            going.at(0)->log(u"dropped\n"_s);
            going.storeSoon();
        }
        QVERIFY(!fileContents(RecordingList::filePath()).contains("dropped"));
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
