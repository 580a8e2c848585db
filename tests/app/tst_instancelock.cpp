#include <optional>

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/instancelock.h"
#include "testmain.h"

namespace {

using Outcome = InstanceLock::Outcome;
enum class Made { Nothing, File, Link, Folder, Fifo };

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

// A file has content; a link leads to a file with the content, or without to a folder.
bool make(const QByteArray &path, Made made, const QByteArray &content, mode_t mode)
{
    const QByteArray target = made == Made::Link ? path + "-target" : path;
    if (made == Made::Nothing || made == Made::Fifo)
        return made == Made::Nothing || ::mkfifo(path, 0600) == 0;
    const bool madeTarget =
        content.isEmpty() ? ::mkdir(target, mode) == 0 : writeFile(target, content);
    return madeTarget && (made != Made::Link || ::symlink(target, path) == 0);
}

} // namespace

class TestInstanceLock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Whatever another program, or a copy that is gone, left at a path. The
    // lock takes over a file (the kernel's lock decides, not what it says),
    // and replaces a link or FIFO, never following it; a folder stays, and
    // where no lock can be made, Skyvane is told why. The socket's folder must
    // be the user's own folder, never a link, closed to everyone else (made
    // so when missing).
    void takesOverWhatIsLeft_data()
    {
        QTest::addColumn<Made>("left");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("content"); // a link without content leads to a folder
        QTest::addColumn<bool>("socketFolder");  // fit for the socket
        QTest::addColumn<QString>("failure");    // of the lock; empty: it is taken
        const auto row = [](const char *name, Made left, int mode, const QByteArray &content,
                            bool socketFolder, const QString &failure) {
            QTest::newRow(name) << left << mode << content << socketFolder << failure;
        };
        const QString notPlain = QStringLiteral("list.lock is a folder or otherwise not a plain");
        row("nothing", Made::Nothing, 0, {}, true, {});
        // Longer than the pid: the file is emptied first.
        row("garbage", Made::File, 0, QByteArray("\0\xff\n 1234567890123\n", 18), false, {});
        row("link to a file", Made::Link, 0, "kept", false, {});
        row("link to a private folder", Made::Link, 0700, {}, false, {});
        row("private folder", Made::Folder, 0700, {}, true, notPlain);
        row("group may enter", Made::Folder, 0710, {}, false, notPlain);
        row("FIFO", Made::Fifo, 0, {}, false, {});
    }
    void takesOverWhatIsLeft()
    {
        QFETCH(Made, left);
        QFETCH(int, mode);
        QFETCH(QByteArray, content);
        QFETCH(bool, socketFolder);
        QFETCH(QString, failure);
        QTemporaryDir scratch;
        const QByteArray folder = QFile::encodeName(scratch.path());
        const QByteArray lock = folder + "/list.lock";
        const QByteArray run = folder + "/run";
        QVERIFY(make(lock, left, content, mode_t(mode)) && make(run, left, content, mode_t(mode)));

        QCOMPARE(InstanceLock::makePrivateFolder(QFile::decodeName(run)), socketFolder);
        struct stat status = {};
        QVERIFY(!socketFolder || (::stat(run, &status) == 0 && (status.st_mode & 0777) == 0700));
        const QString list = QFile::decodeName(folder + "/list");
        InstanceLock instance(list);
        QCOMPARE(instance.tryLock(), failure.isEmpty() ? Outcome::Locked : Outcome::Unavailable);
        QVERIFY2(instance.failure().contains(failure), qPrintable(instance.failure()));
        // A second lock, even in this process, finds it held, by this process.
        QCOMPARE(InstanceLock(list).tryLock(),
                 failure.isEmpty() ? Outcome::Held : Outcome::Unavailable);
        QCOMPARE(readFile(lock), failure.isEmpty() ? QByteArray::number(::getpid()) + '\n' : "");
        QCOMPARE(instance.holder(),
                 failure.isEmpty() ? std::optional<qint64>(::getpid()) : std::nullopt);
        writeFile(lock, "0\n"); // names no process
        QCOMPARE(instance.holder(), std::nullopt);
        QCOMPARE(readFile(lock + "-target"), left == Made::Link ? content : QByteArray());
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
