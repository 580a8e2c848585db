#include <csignal>

#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

#include "model/recordinglist.h"
#include "testmain.h"

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Caps the size of files this process may write, as a full disk would.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved{};
};

// JSON written with single quotes, which keeps the tables readable.
QJsonObject jsonOf(const char *text)
{
    return QJsonDocument::fromJson(QByteArray(text).replace('\'', '"')).object();
}

} // namespace

class TestModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QDir(QFileInfo(RecordingList::filePath()).path()).removeRecursively(); }

    void settingsFromJson_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QByteArray>("changed"); // the keys that differ from the defaults
        QTest::newRow("empty object") << QByteArray("{}") << QByteArray("{}");
        QTest::newRow("wrong types")
            << QByteArray("{'url': 5, 'daily': 1, 'recCount': '9', 'startTime': 1.5, "
                          "'duration': 1e12, 'days': '1111111', 'log': []}")
            << QByteArray("{}");
        QTest::newRow("values")
            << QByteArray("{'name': ' A ', 'daily': true, 'recCount': -1, 'unknown': 1, "
                          "'days': [1, 0, 2, 'x', 0, 0, 1, 1], 'log': 'L'}")
            << QByteArray("{'name': ' A ', 'daily': true, 'recCount': -1, "
                          "'days': [1, 0, 1, 0, 0, 0, 1], 'log': 'L'}");
    }
    void settingsFromJson()
    {
        QFETCH(QByteArray, json);
        QFETCH(QByteArray, changed);
        QJsonObject expected = RecordingSettings().toJson();
        const QJsonObject changes = jsonOf(changed.constData());
        for (auto it = changes.begin(); it != changes.end(); ++it)
            expected.insert(it.key(), it.value());
        const RecordingSettings read = RecordingSettings::fromJson(jsonOf(json.constData()));
        QCOMPARE(read.toJson(), expected);
    }

    void defaultsAndEditedValues()
    {
        QCOMPARE(RecordingSettings().toJson(),
                 jsonOf("{'name': '', 'url': 'http://', 'playList': 'My Skyvane Recordings', "
                        "'customTitle': '', 'customArtist': 'Skyvane', 'customAlbum': '', "
                        "'customGenre': 'Skyvane', 'daily': false, 'once': false, 'recCount': "
                        "1000, 'splitSongs': false, 'reconnect': false, 'splitTitle': true, "
                        "'keepPartial': false, 'startTime': 600, 'duration': 60, 'shoutLang': "
                        "134217984, 'days': [0, 0, 0, 0, 0, 0, 0], 'log': ''}"));
        RecordingSettings edited;
        for (const RecordingSettings::Field &field : RecordingSettings::fields()) {
            if (QByteArrayView(field.key) == "name")
                field.setValue(edited, QStringLiteral("\t Morning\u00a0Show \n "));
            else if (QByteArrayView(field.key) == "recCount")
                field.setValue(edited, QStringLiteral(" 25 tracks"));
            else if (QByteArrayView(field.key) == "days")
                field.setValue(edited, QVariantList{true, false, true});
        }
        QCOMPARE(edited.name, QStringLiteral("Morning\u00a0Show \n"));
        QCOMPARE(edited.recCount, 25);
        QCOMPARE(edited.days, (Weekdays{true, false, true, false, false, false, false}));
    }

    void recordingLogAndClone()
    {
        Recording r(RecordingSettings::fromJson(jsonOf("{'name': 'A', 'daily': true}")));
        QSignalSpy appended(&r, &Recording::logAppended);
        r.log(QString(15999, u'a'));
        r.log(QStringLiteral("b"));
        QCOMPARE(r.logText().size(), 16000); // not trimmed below the threshold
        r.log(QStringLiteral("%1 c"));
        QCOMPARE(r.logText(), QString(7999, u'a') + QStringLiteral("b%1 c"));
        QCOMPARE(appended.size(), 3);
        QCOMPARE(appended.last().first().toString(), QStringLiteral("%1 c"));

        const auto copy = r.clone(QStringLiteral("A 2"));
        QCOMPARE(copy->name(), QStringLiteral("A 2"));
        QVERIFY(copy->settings().daily);
        QVERIFY(copy->logText().isEmpty());
        QVERIFY(!copy->nextStart().isValid());

        RecordingSettings edited = r.settings();
        edited.log = QStringLiteral("lost");
        r.setSettings(edited);
        QVERIFY(r.logText().endsWith(QStringLiteral("b%1 c")));
    }

    void namesAndOrder()
    {
        RecordingList list;
        list.append(std::make_unique<Recording>());
        RecordingSettings settings;
        for (const char *name :
             {"New Recording 1", "beta", "Alpha", "alpha 2", "New Recording 3"}) {
            settings.name = QString::fromUtf8(name);
            list.append(std::make_unique<Recording>(settings));
        }
        QVERIFY(list.contains(QStringLiteral("ALPHA")));
        QCOMPARE(list.unusedNewName(), QStringLiteral("New Recording 2"));
        QCOMPARE(list.unusedCloneName(QStringLiteral("Alpha")), QStringLiteral("Alpha 3"));
        const Recording *beta = list.at(2);
        QCOMPARE(list.sortByName(beta), 3);
        QCOMPARE(list.at(1)->name(), QStringLiteral("Alpha"));
    }

    void storedListLoadsInOrder()
    {
        RecordingList empty;
        empty.load();
        QVERIFY(empty.isEmpty());
        QVERIFY(!empty.store()); // an empty list never replaces a file
        QVERIFY(!QFile::exists(RecordingList::filePath()));

        writeFile(
            RecordingList::filePath(),
            QByteArray("[{'name': 'Zed', 'daily': true}, 7, {'name': 'Abe', 'log': 'old\\n'}]")
                .replace('\'', '"'));
        RecordingList list;
        list.load();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0)->name(), QStringLiteral("Zed"));
        QVERIFY(!list.at(0)->nextStart().isValid()); // loading does not schedule
        list.scheduleAll();
        QVERIFY(list.at(0)->nextStart().isValid());
        QVERIFY(list.at(1)->logText().endsWith(QStringLiteral("The recording is disabled\n")));
        QVERIFY(list.store());
        const QJsonArray stored =
            QJsonDocument::fromJson(readAll(RecordingList::filePath())).array();
        QCOMPARE(stored.size(), 2);
        QCOMPARE(stored.at(1).toObject(), list.at(1)->toJson());
    }

    void unreadableFileIsKeptAside()
    {
        const QString path = RecordingList::filePath();
        writeFile(path, "{ this is not a list");
        writeFile(path + QStringLiteral(".corrupt"), "an older casualty");
        RecordingList list;
        QSignalSpy problems(&list, &RecordingList::problem);
        list.load();
        QVERIFY(list.isEmpty());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(readAll(path + QStringLiteral(".corrupt")), QByteArray("an older casualty"));
        QCOMPARE(readAll(path + QStringLiteral(".corrupt2")), QByteArray("{ this is not a list"));
        QCOMPARE(problems.size(), 1);

        writeFile(path, "{\"a\": 1}");
        list.load();
        QVERIFY(QFile::exists(path + QStringLiteral(".corrupt3")));

        writeFile(path, "[]");
        list.load();
        QVERIFY(QFile::exists(path)); // a readable empty list is not a corrupt one
    }

    void failedStoreLeavesTheOldFileWhole()
    {
        RecordingList list;
        QSignalSpy problems(&list, &RecordingList::problem);
        Recording *r = list.append(std::make_unique<Recording>());
        QVERIFY(list.store());
        const QByteArray before = readAll(RecordingList::filePath());
        r->log(QString(20000, u'x'));
        {
            const FileSizeLimit diskFull(before.size() + 100);
            QVERIFY(!list.store());
        }
        QCOMPARE(readAll(RecordingList::filePath()), before);
        QCOMPARE(problems.size(), 1);
        QCOMPARE(QDir(QFileInfo(RecordingList::filePath()).path())
                     .entryList(QDir::Files | QDir::Hidden)
                     .size(),
                 1); // no temporary file left behind
        QVERIFY(list.store());
        QVERIFY(readAll(RecordingList::filePath()).size() > 20000);
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
