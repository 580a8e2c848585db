#include <cstdlib>
#include <ctime>

#include <QTest>
#include <QTimer>

#include "model/recording.h"
#include "platform/clock.h"

namespace {

// 2026-12-07 is a Monday.
const QDate monday(2026, 12, 7);
const QDate sunday(2026, 12, 6);

QDateTime at(const QDate &day, int hour, int minute, int second = 0)
{
    return QDateTime(day, QTime(hour, minute, second));
}

} // namespace

class TestScheduler : public QObject
{
    Q_OBJECT

private:
    QDateTime m_now;

    void setNow(const QDateTime &now) { m_now = now; }

    std::unique_ptr<Recording> recording(std::array<bool, 7> days = {}, bool daily = false)
    {
        auto r = Recording::initWithName(QStringLiteral("Morning"));
        r->days = days;
        r->daily = daily;
        return r;
    }

    static int timerSeconds(const Recording &r) { return r.timer->interval() / 1000; }

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
        QTest::addColumn<int>("dayMask"); // bit 0 Monday ... bit 6 Sunday
        QTest::addColumn<bool>("daily");
        QTest::addColumn<QDateTime>("expected");

        const int mondayOnly = 1;
        QTest::newRow("09:59, today's flag")
            << at(monday, 9, 59) << 600 << mondayOnly << false << at(monday, 10, 0);
        QTest::newRow("10:00:30 is still today")
            << at(monday, 10, 0, 30) << 600 << 0 << true << at(monday, 10, 0);
        QTest::newRow("10:01 daily is tomorrow")
            << at(monday, 10, 1) << 600 << 0 << true << at(monday.addDays(1), 10, 0);
        QTest::newRow("10:30 misses the half hour")
            << at(monday, 10, 30) << 600 << 0 << true << at(monday.addDays(1), 10, 0);
        QTest::newRow("Monday only at 11:00")
            << at(monday, 11, 0) << 600 << mondayOnly << false << at(monday.addDays(7), 10, 0);
        QTest::newRow("Monday only at 09:00")
            << at(monday, 9, 0) << 600 << mondayOnly << false << at(monday, 10, 0);
        QTest::newRow("Sunday is index 6")
            << at(sunday, 12, 0) << 600 << mondayOnly << false << at(monday, 10, 0);
        QTest::newRow("Sunday flag on Sunday")
            << at(sunday, 9, 0) << 600 << (1 << 6) << false << at(sunday, 10, 0);
        QTest::newRow("start past midnight rolls over")
            << at(monday, 9, 0) << 24 * 60 + 30 << 0 << true << at(monday.addDays(1), 0, 30);
        // 29 March 2026: clocks go from 02:00 to 03:00 in Berlin.
        QTest::newRow("across the spring change")
            << at(QDate(2026, 3, 28), 12, 0) << 600 << 0 << true << at(QDate(2026, 3, 29), 10, 0);
        QTest::newRow("the day after the change")
            << at(QDate(2026, 3, 29), 11, 0) << 600 << 0 << true << at(QDate(2026, 3, 30), 10, 0);
        QTest::newRow("across the autumn change")
            << at(QDate(2026, 10, 24), 23, 0) << 420 << 0 << true << at(QDate(2026, 10, 25), 7, 0);
    }
    void nextStart()
    {
        QFETCH(QDateTime, now);
        QFETCH(int, startTime);
        QFETCH(int, dayMask);
        QFETCH(bool, daily);
        QFETCH(QDateTime, expected);
        setNow(now);
        std::array<bool, 7> days{};
        for (size_t i = 0; i < 7; ++i)
            days[i] = (dayMask >> i) & 1;
        auto r = recording(days, daily);
        r->startTime = startTime;
        r->schedule();
        QCOMPARE(r->nextDate, expected);
        QCOMPARE(r->nextDate.time(), expected.time()); // wall-clock time kept
        QVERIFY(r->logText.startsWith(QStringLiteral("Next recording is at ")));
        QVERIFY(r->timer);
        QVERIFY(r->timer->isSingleShot());
        QCOMPARE(r->timer->timerType(), Qt::PreciseTimer);
    }

    void dueStartFiresAtOnce()
    {
        setNow(at(monday, 10, 0, 30));
        auto r = recording({}, true);
        r->schedule();
        QCOMPARE(r->timer->interval(), 0);
    }

    void captureThatJustStartedWaitsForTomorrow()
    {
        // A capture that began at 10:00:10 and failed at once must not be
        // started again and again until 10:01.
        setNow(at(monday, 10, 0, 40));
        auto r = recording({}, true);
        r->startDate = at(monday, 10, 0, 10);
        r->schedule();
        QCOMPARE(r->nextDate, at(monday.addDays(1), 10, 0));

        r->startDate = at(monday, 9, 59, 50);
        r->schedule();
        QCOMPARE(r->nextDate, at(monday, 10, 0));
    }

    void dailyAndOnceLetTheFlagsDecide()
    {
        setNow(at(monday, 9, 0));
        auto r = recording({}, true);
        r->once = true;
        r->schedule();
        QCOMPARE(r->logText, QStringLiteral("The recording is disabled\n"));
        QVERIFY(!r->timer);
        QVERIFY(!r->nextDate.isValid());
    }

    void resumeComesFifteenSecondsLaterWhateverTheDays()
    {
        setNow(at(monday, 14, 0));
        auto r = recording();
        r->reconnect = true;
        r->willResume = true;
        r->schedule();
        QCOMPARE(r->nextDate, at(monday, 14, 0, 15));
        QVERIFY(r->logText.startsWith(
            QStringLiteral("Will reconnect after 15 seconds\nNext recording is at ")));
        QVERIFY(r->willResume); // cleared only when the capture starts
        QCOMPARE(timerSeconds(*r), 15);

        r->reconnect = false; // without the setting, the regular start decides
        r->schedule();
        QVERIFY(!r->nextDate.isValid());
    }

    void farStartIsApproachedByFiveMinuteChecks()
    {
        setNow(at(monday, 8, 0));
        auto r = recording({}, true);
        r->schedule();
        int rechecks = 0;
        while (timerSeconds(*r) == 300) {
            ++rechecks;
            m_now = m_now.addSecs(300);
            r->checkTime(r->timer); // as the timer would, five minutes on
        }
        // 08:00 + 22 * 5 min = 09:50: 600 s left, so one timer for the start itself.
        QCOMPARE(rechecks, 22);
        QCOMPARE(timerSeconds(*r), 600);
        QCOMPARE(r->nextDate, at(monday, 10, 0));
    }

    void directCheckNeverStartsTheCapture()
    {
        setNow(at(monday, 10, 0, 30));
        auto r = recording({}, true);
        r->schedule();
        r->checkTime(nullptr);
        QVERIFY(!r->inProgress);
        QCOMPARE(r->timer->interval(), 0);
    }

    void descheduleIsSafeWithoutTimer()
    {
        auto r = recording();
        r->deschedule();
        QVERIFY(!r->timer);
        setNow(at(monday, 9, 0));
        r->daily = true;
        r->schedule();
        QVERIFY(r->timer);
        r->deschedule();
        QVERIFY(!r->timer);
    }

    void datesInTheLogAreReadable()
    {
        const QString text = Recording::stringFromDate(at(monday, 10, 0));
        QVERIFY(text.contains(QStringLiteral("2026")));
        QVERIFY(text.contains(QStringLiteral("10")));
    }
};

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
