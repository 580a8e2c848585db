#include <csignal>

#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QTimer>

#include "model/recordinglist.h"
#include "platform/clock.h"

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

} // namespace

class TestRecordingList : public QObject
{
    Q_OBJECT

private:
    QStringList m_problems;

    void watchProblems(RecordingList &list)
    {
        list.setProblemReporter(
            [this](const QString &title, const QString &) { m_problems.append(title); });
    }

private Q_SLOTS:
    void init()
    {
        m_problems.clear();
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 1), QTime(3, 0)); });
        QDir(QFileInfo(RecordingList::prefPath()).path()).removeRecursively();
    }
    void cleanup() { Clock::reset(); }

    void firstStartHasNoRowsAndWritesNothing()
    {
        RecordingList list;
        list.loadRecList();
        QVERIFY(list.isEmpty());
        QVERIFY(
            RecordingList::prefPath().endsWith(QStringLiteral("/.local/share/Skyvane.reclist")));
        QVERIFY(!QFile::exists(RecordingList::prefPath()));
        // An empty list is never written over whatever the user had.
        QVERIFY(!list.storeRecList());
        QVERIFY(!QFile::exists(RecordingList::prefPath()));
    }

    void namesAreFoundAndMadeWithCaseIgnored()
    {
        RecordingList list;
        list.append(Recording::initWithName(QStringLiteral("New Recording 1")));
        QVERIFY(list.hasRecordNamed(QStringLiteral("new recording 1")));
        QVERIFY(!list.hasRecordNamed(QStringLiteral("New Recording")));
        list.append(Recording::initWithName(QStringLiteral("new recording 3")));
        QCOMPARE(list.freeNewRecordingName(), QStringLiteral("New Recording 2"));
        list.append(Recording::initWithName(QStringLiteral("Jazz")));
        list.append(Recording::initWithName(QStringLiteral("jazz 2")));
        QCOMPARE(list.freeCloneName(QStringLiteral("Jazz")), QStringLiteral("Jazz 3"));
        QCOMPARE(list.freeCloneName(QStringLiteral("jazz 2")), QStringLiteral("jazz 2 2"));
    }

    void sortKeepsTheEditorsRow()
    {
        RecordingList list;
        for (const char *name : {"b", "C", "a"})
            list.append(Recording::initWithName(QString::fromLatin1(name)));
        Recording *current = list.at(2);
        QCOMPARE(list.sortAndRelocate(current), 0);
        QCOMPARE(list.at(0)->name, QStringLiteral("a"));
        QCOMPARE(list.at(1)->name, QStringLiteral("b"));
        QCOMPARE(list.at(2)->name, QStringLiteral("C"));

        const auto stranger = Recording::initWithName(QStringLiteral("elsewhere"));
        QVERIFY_THROWS_EXCEPTION(InternalInconsistency, list.sortAndRelocate(stranger.get()));
    }

    void storedRowsLoadInOrderAndAllAreScheduled()
    {
        {
            RecordingList list;
            for (const char *name : {"Zulu", "Alpha", "Mike"}) {
                Recording *r = list.append(Recording::initWithName(QString::fromLatin1(name)));
                r->daily = true;
                r->log(QStringLiteral("made\n"));
            }
            QVERIFY(list.storeRecList());
        }
        RecordingList loaded;
        loaded.loadRecList();
        QCOMPARE(loaded.size(), 3);
        QCOMPARE(loaded.at(0)->name, QStringLiteral("Zulu"));
        QCOMPARE(loaded.at(2)->name, QStringLiteral("Mike"));
        for (int i = 0; i < loaded.size(); ++i) {
            QVERIFY(loaded.at(i)->timer);
            QVERIFY(
                loaded.at(i)->logText.startsWith(QStringLiteral("made\nNext recording is at ")));
        }
        const QJsonArray stored =
            QJsonDocument::fromJson(readAll(RecordingList::prefPath())).array();
        QCOMPARE(stored.size(), 3);
        QCOMPARE(stored.at(0).toObject().value(QStringLiteral("days")).toArray().size(), 7);
    }

    void unreadableFileIsKeptAside()
    {
        const QString path = RecordingList::prefPath();
        writeFile(path, "{ this is not a list");
        writeFile(path + QStringLiteral(".corrupt"), "an older casualty");
        RecordingList list;
        watchProblems(list);
        list.loadRecList();
        QVERIFY(list.isEmpty());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(readAll(path + QStringLiteral(".corrupt")), QByteArray("an older casualty"));
        QCOMPARE(readAll(path + QStringLiteral(".corrupt2")), QByteArray("{ this is not a list"));
        QCOMPARE(m_problems.size(), 1);

        writeFile(path, "{\"a\": 1}");
        RecordingList notAList;
        notAList.loadRecList();
        QVERIFY(notAList.isEmpty());
        QVERIFY(QFile::exists(path + QStringLiteral(".corrupt3")));

        writeFile(path, "[]");
        RecordingList noRows;
        noRows.loadRecList();
        QVERIFY(noRows.isEmpty());
        QVERIFY(QFile::exists(path)); // a readable empty list is not a corrupt one
    }

    void failedStoreLeavesTheOldFileWhole()
    {
        RecordingList list;
        watchProblems(list);
        Recording *r = list.append(Recording::initWithName(QStringLiteral("Keep me")));
        QVERIFY(list.storeRecList());
        const QByteArray before = readAll(RecordingList::prefPath());

        r->log(QString(20000, u'x'));
        {
            const FileSizeLimit diskFull(before.size() + 100);
            QVERIFY(!list.storeRecList());
        }
        QCOMPARE(readAll(RecordingList::prefPath()), before);
        QCOMPARE(m_problems.size(), 1);
        QCOMPARE(QDir(QFileInfo(RecordingList::prefPath()).path())
                     .entryList(QDir::Files | QDir::Hidden)
                     .size(),
                 1); // no temporary file left behind
        QVERIFY(list.storeRecList());
        QVERIFY(readAll(RecordingList::prefPath()).size() > 20000);
    }
};

QTEST_GUILESS_MAIN(TestRecordingList)
#include "tst_recordinglist.moc"
