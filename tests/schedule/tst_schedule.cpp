#include <ctime>

#include <QTest>
#include <QTimer>

#include "model/recording.h"
#include "platform/clock.h"
#include "schedule/nextstart.h"
#include "testmain.h"

namespace {

// 2026-12-07 is a Monday.
const QDate monday(2026, 12, 7);
const QDate sunday(2026, 12, 6);

QDateTime at(const QDate &day, int hour, int minute, int second = 0)
{
    return QDateTime(day, QTime(hour, minute, second));
}

int timerSeconds(const QObject &owner)
{
    const auto *timer = owner.findChild<QTimer *>();
    return timer && timer->isActive() ? timer->interval() / 1000 : -1;
}

} // namespace

class TestSchedule : public QObject
{
    Q_OBJECT

private:
    QDateTime m_now;

private Q_SLOTS:
    void initTestCase()
    {
        // A zone with daylight-saving time, so that the change can be crossed.
        qputenv("TZ", "Europe/Berlin");
        tzset();
        Clock::setSource([this] { return m_now; });
    }
    void cleanupTestCase() { Clock::reset(); }

    void nextStart_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<int>("startTime");
        QTest::addColumn<int>("dayMask"); // bit 0 Monday ... bit 6 Sunday; -1 daily
        QTest::addColumn<QDateTime>("lastStart");
        QTest::addColumn<QDateTime>("expected");

        const int mondayOnly = 1;
        const int daily = -1;
        const QDateTime never;
        QTest::newRow("09:59, today's flag")
            << at(monday, 9, 59) << 600 << mondayOnly << never << at(monday, 10, 0);
        QTest::newRow("10:00:30 is still today")
            << at(monday, 10, 0, 30) << 600 << daily << never << at(monday, 10, 0);
        QTest::newRow("the start that just ran waits for tomorrow")
            << at(monday, 10, 0, 40) << 600 << daily << at(monday, 10, 0, 10)
            << at(monday.addDays(1), 10, 0);
        QTest::newRow("a start in the minute before does not")
            << at(monday, 10, 0, 40) << 600 << daily << at(monday, 9, 59, 50) << at(monday, 10, 0);
        QTest::newRow("10:01 daily is tomorrow")
            << at(monday, 10, 1) << 600 << daily << never << at(monday.addDays(1), 10, 0);
        QTest::newRow("Monday only at 11:00")
            << at(monday, 11, 0) << 600 << mondayOnly << never << at(monday.addDays(7), 10, 0);
        QTest::newRow("no day at all") << at(monday, 9, 0) << 600 << 0 << never << never;
        QTest::newRow("Sunday is index 6")
            << at(sunday, 12, 0) << 600 << mondayOnly << never << at(monday, 10, 0);
        QTest::newRow("Sunday flag on Sunday")
            << at(sunday, 9, 0) << 600 << (1 << 6) << never << at(sunday, 10, 0);
        QTest::newRow("start past midnight rolls over")
            << at(monday, 9, 0) << 24 * 60 + 30 << daily << never << at(monday.addDays(1), 0, 30);
        // 29 March 2026: clocks go from 02:00 to 03:00 in Berlin.
        QTest::newRow("across the spring change") << at(QDate(2026, 3, 28), 12, 0) << 600 << daily
                                                  << never << at(QDate(2026, 3, 29), 10, 0);
        QTest::newRow("across the autumn change") << at(QDate(2026, 10, 24), 23, 0) << 420 << daily
                                                  << never << at(QDate(2026, 10, 25), 7, 0);
    }
    void nextStart()
    {
        QFETCH(QDateTime, now);
        QFETCH(int, startTime);
        QFETCH(int, dayMask);
        QFETCH(QDateTime, lastStart);
        QFETCH(QDateTime, expected);
        RecordingSettings settings;
        settings.startTime = startTime;
        settings.daily = dayMask < 0;
        for (size_t i = 0; i < 7; ++i)
            settings.days[i] = dayMask > 0 && (dayMask >> i) & 1;
        const std::optional<QDateTime> next = NextStart::after(settings, now, lastStart);
        QCOMPARE(next.value_or(QDateTime()), expected);
        if (next)
            QCOMPARE(next->time(), expected.time()); // wall-clock time kept
        // "once" lets the weekday flags decide even when daily is on.
        settings.once = true;
        QCOMPARE(NextStart::after(settings, now, lastStart).has_value(), dayMask > 0);
    }

    void recordingArmsItsTimer()
    {
        m_now = at(monday, 8, 0);
        RecordingSettings settings;
        settings.daily = true;
        Recording r(settings);
        r.schedule();
        QVERIFY(r.logText().startsWith(QStringLiteral("Next recording is at ")));
        QCOMPARE(r.nextStart(), at(monday, 10, 0));
        // Far off, the timer re-checks every five minutes, then aims at the start.
        auto *timer = r.findChild<QTimer *>();
        int rechecks = 0;
        while (timerSeconds(r) == 300) {
            ++rechecks;
            m_now = m_now.addSecs(300);
            QMetaObject::invokeMethod(timer, "timeout");
        }
        QCOMPARE(rechecks, 22); // 09:50: 600 s left
        QCOMPARE(timerSeconds(r), 600);
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
        r.unschedule();
        QCOMPARE(timerSeconds(r), -1);
        QVERIFY(!r.nextStart().isValid());

        m_now = at(monday, 10, 0, 30);
        r.schedule();
        QCOMPARE(timerSeconds(r), 0); // a due start fires at once, from the event loop
        settings.once = true;
        settings.daily = false;
        r.setSettings(settings);
        r.schedule();
        QVERIFY(r.logText().endsWith(QStringLiteral("The recording is disabled\n")));
        QCOMPARE(timerSeconds(r), -1);
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestSchedule)
#include "tst_schedule.moc"
