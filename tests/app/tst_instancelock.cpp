#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "app/instancelock.h"
#include "testmain.h"

namespace {

using Outcome = InstanceLock::Outcome;
// What a path is made as; the last two are made at the list's folder.
enum class Made { Nothing, File, Link, Folder, Fifo, ReadOnlyFolder, FileAsFolder };

bool writeFile(const QByteArray &path, const QByteArray &content)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QByteArray &path)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A link leads to a file with the content, or without content to a folder.
bool make(const QByteArray &path, Made made, const QByteArray &content = {}, mode_t mode = 0700)
{
    const QByteArray target = made == Made::Link ? path + "-target" : path;
    const bool folder = made == Made::Folder || (made == Made::Link && content.isEmpty());
    if (made == Made::Fifo)
        return ::mkfifo(path, mode) == 0;
    if (made != Made::File && made != Made::Link && !folder)
        return true;
    const bool madeTarget = folder ? ::mkdir(target, mode) == 0
                                   : writeFile(target, content) && ::chmod(target, mode) == 0;
    return madeTarget && (made != Made::Link || ::symlink(target, path) == 0);
}

} // namespace

class TestInstanceLock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Whatever a copy that is gone left in the lock file, the kernel's lock
    // decides. A link or FIFO there is replaced, never followed; a folder
    // stays, and where no lock can be made, Skyvane is told why.
    void takesOverWhatIsLeft_data()
    {
        QTest::addColumn<Made>("left");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("failure"); // empty: the lock is taken
        const auto row = [](const char *name, Made left, const QByteArray &content,
                            const char *failure) {
            QTest::newRow(name) << left << content << QString::fromUtf8(failure);
        };
        const char *notPlain = "a/list.lock is a folder or otherwise not a plain file";
        row("empty, after a power cut", Made::File, {}, "");
        row("garbage", Made::File, QByteArray("\0\xff 7\n", 5), "");
        row("a living process", Made::File, "1\n", "");
        row("link", Made::Link, "kept", "");
        row("folder", Made::Folder, {}, notPlain);
        row("FIFO", Made::Fifo, {}, "");
        row("read-only folder", Made::ReadOnlyFolder, {},
            "a/list.lock cannot be made: Permission denied");
        row("folder below a file", Made::FileAsFolder, {}, "a/b cannot be made: Not a directory");
    }
    void takesOverWhatIsLeft()
    {
        QFETCH(Made, left);
        QFETCH(QByteArray, content);
        QFETCH(QString, failure);
        QTemporaryDir scratch;
        const QByteArray folder = QFile::encodeName(scratch.filePath(QStringLiteral("a")));
        const QByteArray list = left == Made::FileAsFolder ? folder + "/b/list" : folder + "/list";
        QVERIFY(left == Made::FileAsFolder
                    ? writeFile(folder, {})
                    : ::mkdir(folder, left == Made::ReadOnlyFolder ? 0555 : 0700) == 0);
        if (left == Made::ReadOnlyFolder && writeFile(list + ".lock", {}))
            QSKIP("this user writes past a folder's mode");
        QVERIFY(make(list + ".lock", left, content));

        InstanceLock lock(QFile::decodeName(list));
        QCOMPARE(lock.tryLock(), failure.isEmpty() ? Outcome::Locked : Outcome::Unavailable);
        QVERIFY2(lock.failure().contains(failure), qPrintable(lock.failure()));
        if (failure.isEmpty())
            QCOMPARE(readFile(list + ".lock"), QByteArray::number(::getpid()) + '\n');
        QCOMPARE(readFile(list + ".lock-target"), left == Made::Link ? content : QByteArray());
    }

    // The lock belongs to the open file: a second holder, even in this
    // process, is refused, and a child started meanwhile does not keep it.
    void refusesASecondHolder()
    {
        QTemporaryDir scratch;
        const QString list = scratch.filePath(QStringLiteral("list"));
        auto first = std::make_unique<InstanceLock>(list);
        QCOMPARE(first->tryLock(), Outcome::Locked);
        QProcess child;
        child.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(child.waitForStarted());
        InstanceLock second(list);
        QCOMPARE(second.tryLock(), Outcome::Held);
        QCOMPARE(second.holder(), std::optional<qint64>(::getpid()));
        for (const char *naming : {"garbage", "0\n"}) {
            QVERIFY(writeFile(QFile::encodeName(list) + ".lock", naming));
            QCOMPARE(second.holder(), std::nullopt);
        }
        first.reset();
        QCOMPARE(InstanceLock(list).tryLock(), Outcome::Locked);
        child.kill();
        child.waitForFinished();
    }

    // The socket's folder must be the user's own, closed to everyone else.
    void keepsTheSocketFolderPrivate_data()
    {
        QTest::addColumn<Made>("made");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("another"); // owned by another user
        QTest::addColumn<bool>("used");
        QTest::newRow("made fresh") << Made::Nothing << 0 << false << true;
        QTest::newRow("private") << Made::Folder << 0700 << false << true;
        QTest::newRow("group may enter") << Made::Folder << 0710 << false << false;
        QTest::newRow("all may enter") << Made::Folder << 0755 << false << false;
        QTest::newRow("another user's") << Made::Folder << 0700 << true << false;
        QTest::newRow("link to a private folder") << Made::Link << 0700 << false << false;
        QTest::newRow("file") << Made::File << 0700 << false << false;
    }
    void keepsTheSocketFolderPrivate()
    {
        QFETCH(Made, made);
        QFETCH(int, mode);
        QFETCH(bool, another);
        QFETCH(bool, used);
        QTemporaryDir scratch;
        const QByteArray path = QFile::encodeName(scratch.filePath(QStringLiteral("run")));
        QVERIFY(make(path, made, {}, mode_t(mode)));
        if (another && ::chown(path, ::geteuid() + 1, gid_t(-1)) != 0)
            QSKIP("only the superuser gives a folder away");

        QCOMPARE(InstanceLock::makePrivateFolder(QFile::decodeName(path)), used);
        struct stat status = {};
        QVERIFY(!used || (::stat(path, &status) == 0 && (status.st_mode & 0777) == 0700));
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
