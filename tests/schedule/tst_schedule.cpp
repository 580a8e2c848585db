#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include "model/recording.h"
#include "platform/clock.h"
#include "platform/sleepinhibitor.h"
#include "platform/wakenotifier.h"
#include "schedule/nextstart.h"
#include "testmain.h"

using namespace Qt::StringLiterals;

namespace {

// 2026-12-07 is a Monday.
const QDate monday(2026, 12, 7);
QDateTime fakeNow;

QDateTime at(const QDate &day, int hour, int minute, int second = 0)
{
    return QDateTime(day, QTime(hour, minute, second));
}

int timerSeconds(const QObject &owner)
{
    const auto *timer = owner.findChild<QTimer *>();
    return timer && timer->isActive() ? timer->interval() / 1000 : -1;
}

// logind as far as Skyvane uses it: sleep locks and the wake signal.
class Logind : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    QStringList inhibits;

    // The last lock lasts while the write end of its pipe is open anywhere.
    bool lockHeld() const
    {
        pollfd hangUp{m_lockEnd.fileDescriptor(), 0, 0};
        return ::poll(&hangUp, 1, 0) == 0;
    }

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &, const QString &,
                                    const QString &mode)
    {
        inhibits.append(what + u' ' + mode);
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            qFatal("no pipe");
        m_lockEnd.giveFileDescriptor(ends[0]);
        QDBusUnixFileDescriptor lock;
        lock.giveFileDescriptor(ends[1]);
        return lock;
    }

Q_SIGNALS:
    void PrepareForSleep(bool start);

private:
    QDBusUnixFileDescriptor m_lockEnd;
};

} // namespace

class TestSchedule : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // A zone with daylight-saving time, so that the change can be crossed.
        qputenv("TZ", "Europe/Berlin");
        tzset();
        // A system bus of our own, never the machine's logind, and none until a test brings one.
        m_bus.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--print-address"_s, u"--nofork"_s});
        qputenv("DBUS_SYSTEM_BUS_ADDRESS",
                m_bus.waitForReadyRead() ? m_bus.readLine().trimmed() : "unix:path=/nonexistent");
        Clock::setSource([] { return fakeNow; });
    }
    void cleanupTestCase()
    {
        Clock::reset();
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void nextStart_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QByteArray>("settings"); // as in the list file; the default start is 10:00
        QTest::addColumn<QDateTime>("lastStart");
        QTest::addColumn<QDateTime>("expected");

        const QByteArray daily("{\"daily\": true}");
        const QByteArray mondays("{\"days\": [1]}");
        const QDateTime never;
        QTest::newRow("10:00:30 is still today")
            << at(monday, 10, 0, 30) << mondays << never << at(monday, 10, 0);
        QTest::newRow("the start that just ran waits for tomorrow")
            << at(monday, 10, 0, 40) << daily << at(monday, 10, 0) << at(monday.addDays(1), 10, 0);
        QTest::newRow("a start in the minute before does not")
            << at(monday, 10, 0, 40) << daily << at(monday, 9, 59, 50) << at(monday, 10, 0);
        QTest::newRow("Monday only at 11:00 is next week")
            << at(monday, 11, 0) << mondays << never << at(monday.addDays(7), 10, 0);
        QTest::newRow("start past midnight rolls over")
            << at(monday, 9, 0) << QByteArray("{\"daily\": true, \"startTime\": 1470}") << never
            << at(monday.addDays(1), 0, 30);
        // 28 March 2027: clocks go from 02:00 to 03:00 in Berlin.
        const QDate change(2027, 3, 28);
        const QByteArray dailyAt0230("{\"daily\": true, \"startTime\": 150}");
        QTest::newRow("a start the spring change skips runs at 03:00")
            << at(change.addDays(-1), 12, 0) << dailyAt0230 << never << at(change, 3, 0);
        QTest::newRow("which once it ran waits for tomorrow")
            << at(change, 3, 0, 20) << dailyAt0230 << at(change, 3, 0)
            << at(change.addDays(1), 2, 30);
        QTest::newRow("Now at 09:30 leaves the 10:00 start")
            << at(monday, 9, 30, 20) << mondays << at(monday, 9, 30) << at(monday, 10, 0);
    }
    void nextStart()
    {
        QFETCH(QDateTime, now);
        QFETCH(QByteArray, settings);
        QFETCH(QDateTime, lastStart);
        QFETCH(QDateTime, expected);
        auto s = RecordingSettings::fromJson(QJsonDocument::fromJson(settings).object());
        QCOMPARE(NextStart::after(s, now, lastStart).value_or(QDateTime()), expected);
        // "once" lets the weekday flags decide even when daily is on; no flag, no start.
        s.once = true;
        QCOMPARE(NextStart::after(s, now, lastStart).has_value(), s.days != Weekdays{});
    }

    void recordingArmsItsTimer()
    {
        fakeNow = at(monday, 8, 0);
        Recording r(RecordingSettings::fromJson({{u"daily"_s, true}}));
        r.schedule();
        auto *timer = r.findChild<QTimer *>();
        // Far off it re-checks every five minutes; from ten minutes before, it aims at the start.
        QCOMPARE(timerSeconds(r), 300);
        fakeNow = at(monday, 9, 49, 59);
        QMetaObject::invokeMethod(timer, "timeout");
        QCOMPARE(timerSeconds(r), 300);
        fakeNow = at(monday, 9, 50);
        QMetaObject::invokeMethod(timer, "timeout");
        QCOMPARE(timerSeconds(r), 600);

        fakeNow = at(monday, 10, 0, 30);
        r.schedule();
        QCOMPARE(timerSeconds(r), 0); // a due start fires at once, from the event loop
        r.setSettings(RecordingSettings());
        r.schedule();
        QVERIFY(timerSeconds(r) == -1 && !r.nextStart().isValid());
        StartTimer never; // an invalid date never reads as due
        never.start(QDateTime());
        QVERIFY(!never.isActive());
    }

    void wakeChecksAtOnce()
    {
        // Asleep from 09:55 through the 10:00 start, while the monotonic timer stood still.
        fakeNow = at(monday, 9, 55);
        WakeNotifier::instance().checkClock();
        Recording r(RecordingSettings::fromJson({{u"daily"_s, true}}));
        r.schedule();
        fakeNow = at(monday, 10, 4);
        WakeNotifier::instance().checkClock();
        // Both captures fail at once on the default "http://".
        QTRY_VERIFY(!r.isCapturing());
        r.startCapture();
        QVERIFY(!r.findChild<StartTimer *>()->isActive()); // the capture takes over from it
        QCOMPARE(r.logText().count(u"Started recording"_s), 2);
        QTRY_VERIFY(!SleepInhibitor::instance().isAsking());
        QCOMPARE(r.logText().count(u"the computer may sleep"_s), 1);
    }

    void logindLocksAndWakes()
    {
        if (m_bus.state() != QProcess::Running)
            QSKIP("needs dbus-daemon");
        Logind logind;
        QDBusConnection bus = QDBusConnection::systemBus();
        QVERIFY(bus.registerService(u"org.freedesktop.login1"_s));
        QVERIFY(bus.registerObject(u"/org/freedesktop/login1"_s, &logind,
                                   QDBusConnection::ExportAllSlots |
                                       QDBusConnection::ExportAllSignals));
        // Two captures share one lock, which lasts until the last one ends, also when
        // its recording goes while it runs.
        QTcpServer station; // takes the connections and never answers
        QVERIFY(station.listen(QHostAddress::LocalHost));
        const auto settings = RecordingSettings::fromJson(
            {{u"url"_s, u"http://127.0.0.1:%1/"_s.arg(station.serverPort())}});
        auto first = std::make_unique<Recording>(settings);
        Recording second(settings);
        SleepInhibitor &inhibitor = SleepInhibitor::instance();
        first->startCapture();
        second.startCapture();
        QTRY_VERIFY(inhibitor.isLocked());
        second.stopCapture();
        QTRY_VERIFY(!second.isCapturing());
        QVERIFY(inhibitor.isLocked() && logind.lockHeld());
        first.reset();
        QVERIFY(!inhibitor.isLocked());
        QTRY_VERIFY(!logind.lockHeld());
        QCOMPARE(logind.inhibits, QStringList{u"sleep block"_s});
        // Asking returns before the answer; a lock that comes after its holder
        // ended is let go as it comes.
        inhibitor.acquire(this, [](const QString &line) { QFAIL(qPrintable(line)); });
        QVERIFY(!inhibitor.isLocked());
        inhibitor.release();
        QTRY_COMPARE(logind.inhibits.size(), 2);
        QTRY_VERIFY(!logind.lockHeld());
        QVERIFY(!inhibitor.isLocked());
        QSignalSpy woke(&WakeNotifier::instance(), &WakeNotifier::woke);
        Q_EMIT logind.PrepareForSleep(false);
        QVERIFY(woke.wait());
    }

private:
    QProcess m_bus;
};

SKYVANE_TEST_GUILESS_MAIN(TestSchedule)
#include "tst_schedule.moc"
