#include <ctime>

#include <QJsonDocument>
#include <QTest>
#include <QTimer>

#include "model/recording.h"
#include "platform/clock.h"
#include "schedule/nextstart.h"
#include "testmain.h"

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
        Clock::setSource([] { return fakeNow; });
    }
    void cleanupTestCase() { Clock::reset(); }

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
        // 29 March 2026: clocks go from 02:00 to 03:00 in Berlin.
        QTest::newRow("across the spring change")
            << at(QDate(2026, 3, 28), 12, 0) << daily << never << at(QDate(2026, 3, 29), 10, 0);
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
        Recording r(RecordingSettings::fromJson({{QStringLiteral("daily"), true}}));
        r.schedule();
        auto *timer = r.findChild<QTimer *>();
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
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
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestSchedule)
#include "tst_schedule.moc"
