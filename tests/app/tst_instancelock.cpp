#include <optional>

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/instancelock.h"
#include "testfiles.h"
#include "testmain.h"

namespace {

using Outcome = InstanceLock::Outcome;
enum class Made { Nothing, File, Link, Folder, Fifo };

// A file holds garbage longer than a pid; a link leads to a folder.
bool make(const QByteArray &path, Made made, mode_t mode)
{
    const QByteArray folder = made == Made::Link ? path + "-target" : path;
    if (made == Made::Nothing || made == Made::Fifo)
        return made == Made::Nothing || ::mkfifo(path, 0600) == 0;
    if (made == Made::File)
        return !writeFile(QFile::decodeName(path), QByteArray("\0\xff\n 1234567890123\n", 18))
                    .isEmpty();
    return ::mkdir(folder, mode) == 0 && (made != Made::Link || ::symlink(folder, path) == 0);
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
        QTest::addColumn<bool>("socketFolder"); // fit for the socket
        QTest::addColumn<QString>("failure");   // of the lock; empty: it is taken
        const QString notPlain = QStringLiteral("list.lock is a folder or otherwise not a plain");
        QTest::newRow("nothing") << Made::Nothing << 0 << true << QString();
        // Longer than the pid: the file is emptied first.
        QTest::newRow("garbage") << Made::File << 0 << false << QString();
        QTest::newRow("link to a private folder") << Made::Link << 0700 << false << QString();
        QTest::newRow("private folder") << Made::Folder << 0700 << true << notPlain;
        QTest::newRow("group may enter") << Made::Folder << 0710 << false << notPlain;
        QTest::newRow("FIFO") << Made::Fifo << 0 << false << QString();
    }
    // What makePrivateFolder accepts is closed to others: it checks that itself.
    void takesOverWhatIsLeft()
    {
        QFETCH(Made, left);
        QFETCH(int, mode);
        QFETCH(bool, socketFolder);
        QFETCH(QString, failure);
        QTemporaryDir scratch;
        const QByteArray folder = QFile::encodeName(scratch.path());
        const QByteArray lock = folder + "/list.lock";
        const QByteArray run = folder + "/run";
        QVERIFY(make(lock, left, mode_t(mode)) && make(run, left, mode_t(mode)));

        QCOMPARE(InstanceLock::makePrivateFolder(QFile::decodeName(run)), socketFolder);
        const QString list = QFile::decodeName(folder + "/list");
        auto instance = std::make_unique<InstanceLock>(list);
        QCOMPARE(instance->tryLock(), failure.isEmpty() ? Outcome::Locked : Outcome::Unavailable);
        QVERIFY2(instance->failure().contains(failure), qPrintable(instance->failure()));
        // A second lock, even in this process, finds it held, by this process.
        QCOMPARE(InstanceLock(list).tryLock(),
                 failure.isEmpty() ? Outcome::Held : Outcome::Unavailable);
        QFile named(QFile::decodeName(lock));
        QCOMPARE(named.open(QIODevice::ReadOnly) ? named.readAll() : QByteArray(),
                 failure.isEmpty() ? QByteArray::number(::getpid()) + '\n' : QByteArray());
        QCOMPARE(instance->holder(),
                 failure.isEmpty() ? std::optional<qint64>(::getpid()) : std::nullopt);
        if (QFile names(QFile::decodeName(lock)); names.open(QIODevice::WriteOnly))
            names.write("0\n"); // names no process; a folder stays one
        QCOMPARE(instance->holder(), std::nullopt);
        instance.reset(); // the next copy takes the lock let go
        QCOMPARE(InstanceLock(list).tryLock(),
                 failure.isEmpty() ? Outcome::Locked : Outcome::Unavailable);
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
