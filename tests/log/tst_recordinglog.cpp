#include <QTest>

#include "log/logsinks.h"
#include "model/recording.h"

namespace {

class RecordingView : public LogView
{
public:
    QString text;
    qsizetype scrolledTo = -1;
    int updates = 0;
    void setString(const QString &value) override
    {
        text = value;
        ++updates;
    }
    void scrollRangeToVisible(qsizetype start, qsizetype length) override
    {
        QCOMPARE(length, 1);
        scrolledTo = start;
    }
};

class RecordingBar : public ProgressBar
{
public:
    double value = -1.0;
    void setDoubleValue(double v) override { value = v; }
};

} // namespace

class TestRecordingLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void trimsOnlyPastTheThreshold_data()
    {
        QTest::addColumn<qsizetype>("before");
        QTest::addColumn<qsizetype>("after");
        QTest::newRow("15999 is kept") << qsizetype(15999) << qsizetype(15999 + 5);
        QTest::newRow("16000 loses 8000") << qsizetype(16000) << qsizetype(8000 + 5);
        QTest::newRow("30000 loses only 8000") << qsizetype(30000) << qsizetype(22000 + 5);
    }
    void trimsOnlyPastTheThreshold()
    {
        QFETCH(qsizetype, before);
        QFETCH(qsizetype, after);
        auto r = Recording::initWithName(QStringLiteral("Trim"));
        r->logText = QString(before, u'a');
        r->log(QStringLiteral("next\n"));
        QCOMPARE(r->logText.size(), after);
        QVERIFY(r->logText.endsWith(QStringLiteral("next\n")));
    }

    void longMessagesAreKeptWhole()
    {
        auto r = Recording::initWithName(QStringLiteral("Long"));
        r->log(QString(20000, u'x'));
        QCOMPARE(r->logText.size(), 20000);
        r->log(QStringLiteral("y"));
        QCOMPARE(r->logText.size(), 12001);
    }

    void lengthsCountUtf16Units()
    {
        // Characters outside the basic plane count twice, as the limits are in UTF-16 units.
        auto r = Recording::initWithName(QStringLiteral("Wide"));
        const QString clef = QString::fromUcs4(U"\U0001D11E");
        QCOMPARE(clef.size(), 2);
        for (int i = 0; i < 7999; ++i)
            r->logText += clef; // 15998 units
        r->log(clef);           // 16000: no trim yet, it happens before the next append
        QCOMPARE(r->logText.size(), 16000);
        r->log(QStringLiteral("!"));
        QCOMPARE(r->logText.size(), 8001);
    }

    void formatsTakeArgumentsLiterally()
    {
        auto r = Recording::initWithName(QStringLiteral("Fmt"));
        r->fmtlog("Connecting to %@\n", QStringLiteral("http://example.org/%d%@"));
        r->fmtlog("Data size is %d at %d minutes\n", qint64(3000000000LL), 7);
        r->fmtlog("100%% of %@", "it");
        QCOMPARE(r->logText, QStringLiteral("Connecting to http://example.org/%d%@\n"
                                            "Data size is 3000000000 at 7 minutes\n"
                                            "100% of it"));
    }

    void attachedViewFollowsTheLog()
    {
        auto shown = Recording::initWithName(QStringLiteral("Shown"));
        auto hidden = Recording::initWithName(QStringLiteral("Hidden"));
        RecordingView view;
        RecordingBar bar;
        shown->log(QStringLiteral("before\n"));
        shown->percent = 40.0;
        shown->attachLog(&view, &bar);
        QCOMPARE(view.text, QStringLiteral("before\n"));
        QCOMPARE(view.scrolledTo, qsizetype(6));
        QCOMPARE(bar.value, 40.0);

        hidden->log(QStringLiteral("unseen\n"));
        shown->log(QStringLiteral("after\n"));
        QCOMPARE(view.text, QStringLiteral("before\nafter\n"));
        QCOMPARE(view.scrolledTo, qsizetype(12));

        shown->detach();
        shown->log(QStringLiteral("detached\n"));
        QCOMPARE(view.text, QStringLiteral("before\nafter\n")); // left in place

        view.scrolledTo = -1;
        auto fresh = Recording::initWithName(QStringLiteral("Fresh"));
        fresh->attachLog(&view, &bar);
        QCOMPARE(view.text, QString());
        QCOMPARE(view.scrolledTo, qsizetype(-1)); // nothing to scroll to
        QCOMPARE(bar.value, 0.0);

        fresh->detach();
        shown->attachLog(&view, &bar);
        QVERIFY(view.text.endsWith(QStringLiteral("detached\n")));
    }

    void listenerSeesEveryRecording()
    {
        QStringList heard;
        Recording::setLogListener([&](const Recording &r, const QString &message) {
            heard.append(r.name + QStringLiteral(": ") + message);
        });
        auto a = Recording::initWithName(QStringLiteral("A"));
        auto b = Recording::initWithName(QStringLiteral("B"));
        a->log(QStringLiteral("one\n"));
        b->log(QStringLiteral("two\n"));
        Recording::setLogListener(nullptr);
        QCOMPARE(heard, (QStringList{QStringLiteral("A: one\n"), QStringLiteral("B: two\n")}));
    }
};

QTEST_GUILESS_MAIN(TestRecordingLog)
#include "tst_recordinglog.moc"
