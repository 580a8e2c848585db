// The parts behind the window that own its rules, tested without driving it:
// the overview's rows as the recordings change, their order and filter; what
// closing does; text Skyvane did not write (a name from the list file, a
// station's words) shown as plain text, never as markup Qt would render (and
// load images for); desktop notifications on a private session bus.
#include <csignal>

#include <sys/prctl.h>

#include <QtTest>
#include <QtWidgets>

#include <QDBusConnection>

#include "model/recordinglist.h"
#include "platform/clock.h"
#include "platform/desktopnotifications.h"
#include "stationsimulator.h"
#include "testmain.h"
#include "ui/alerts.h"
#include "ui/closedecision.h"
#include "ui/recordingsortmodel.h"
#include "ui/recordingtablemodel.h"

using namespace Qt::StringLiterals;

namespace {

const QString refused = u"http://127.0.0.1:9/stream"_s; // nothing listens

RecordingSettings row(const QString &name, const QString &url = refused)
{
    auto settings = RecordingSettings::fromJson({{u"name"_s, name}, {u"url"_s, url}});
    settings.days.fill(true);
    return settings;
}

// The desktop's notification service as far as Skyvane uses it.
class Notifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList told; // "<summary>:<body>"

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        told.append(summary + u':' + body);
        return 7;
    }
};

} // namespace

class TestOverview : public QObject
{
    Q_OBJECT

    QProcess m_bus;
    Notifications m_service;
    StationSimulator m_station;

private Q_SLOTS:
    void initTestCase()
    {
        // A Wednesday at 09:00: every start at the default 10:00 is far off.
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 2), QTime(9, 0)); });
        m_station.setRoute("/live", StationSimulator::Route::stream());
        QVERIFY(m_station.start());
        m_bus.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--print-address"_s, u"--nofork"_s});
        qputenv("DBUS_SESSION_BUS_ADDRESS",
                m_bus.waitForReadyRead() ? m_bus.readLine().trimmed() : "unix:path=/nonexistent");
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.registerService(u"org.freedesktop.Notifications"_s))
            bus.registerObject(u"/org/freedesktop/Notifications"_s, &m_service,
                               QDBusConnection::ExportAllSlots);
    }
    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void showsEachRecording_data()
    {
        QTest::addColumn<QString>("run");   // what happens to the row "a"
        QTest::addColumn<QString>("shown"); // next start|days|state|last result, as it begins
        const QString failed = u"|Connection failed: Couldn't connect to server ("_s;
        QTest::newRow("planned") << u"schedule"_s << u"2 Dec 2026 10:00:00|Every day|Scheduled|"_s;
        QTest::newRow("no day") << u"no day"_s << u"|None|Disabled|"_s;
        QTest::newRow("once") << u"once"_s << u"4 Dec 2026 10:00:00|Once: Mon Fri|Scheduled|"_s;
        QTest::newRow("capturing") << u"live"_s << u"|Every day|Recording|0 tracks saved"_s;
        QTest::newRow("broke off")
            << u"reconnect"_s << u"2 Dec 2026 09:00:15|Every day|Waiting to reconnect"_s + failed;
        QTest::newRow("failed") << u"fail"_s
                                << u"2 Dec 2026 10:00:00|Every day|Last run failed"_s + failed;
    }
    // A row follows its recording.
    void showsEachRecording()
    {
        QFETCH(QString, run);
        QFETCH(QString, shown);
        RecordingList list;
        RecordingSettings a = row(u"a"_s, run == u"live"_s ? m_station.url(u"/live") : refused);
        a.reconnect = run == u"reconnect"_s;
        a.once = run == u"once"_s;
        if (run == u"no day"_s || a.once)
            a.days = {a.once, false, false, false, a.once, false, false};
        RecordingTableModel model(list);
        Recording *recording = list.append(std::make_unique<Recording>(a));
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        if (run == u"schedule"_s || run == u"no day"_s || a.once)
            recording->schedule();
        else
            recording->startCapture();
        QTRY_VERIFY(run == u"live"_s || !recording->isCapturing());
        QStringList cells;
        for (int c = RecordingTableModel::NextStart; c < RecordingTableModel::ColumnCount; ++c)
            cells.append(model.index(0, c).data().toString());
        // A running capture's row stands out.
        QCOMPARE(model.index(0, 0).data(Qt::FontRole).value<QFont>().bold(), run == u"live"_s);
        QVERIFY2(cells.join(u'|').startsWith(shown), qPrintable(cells.join(u'|')));
        QCOMPARE(changed.isEmpty(), run == u"no day"_s); // a disabled row stays as it was
        recording->stopCapture();
    }

    void sortsAndFilters_data()
    {
        // Rows "name@hh:mm" start every day then, the others never; the
        // station of each ends in its place in the list.
        QTest::addColumn<QString>("rows");
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("descending");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("shown");
        const QString shows = u"Show 46|show 7|Show 100|alpha"_s,
                      starts = u"a@08:00|b|c@10:00|d@09:30"_s;
        QTest::newRow("names") << shows << 0 << false << QString()
                               << u"alpha|show 7|Show 46|Show 100"_s;
        QTest::newRow("name holds") << shows << 0 << false << u"HOW 4"_s << u"Show 46"_s;
        QTest::newRow("station holds") << shows << 0 << false << u"Example/3"_s << u"alpha"_s;
        QTest::newRow("next start") << starts << 2 << false << QString() << u"d|c|a|b"_s;
        QTest::newRow("next start down") << starts << 2 << true << QString() << u"a|c|d|b"_s;
    }
    // Rows added after sorting take their places.
    void sortsAndFilters()
    {
        QFETCH(QString, rows);
        QFETCH(int, column);
        QFETCH(bool, descending);
        QFETCH(QString, filter);
        QFETCH(QString, shown);
        RecordingList list;
        RecordingTableModel model(list);
        RecordingSortModel sorted;
        sorted.setSourceModel(&model);
        sorted.setFilterText(filter);
        sorted.sort(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        for (const QString &entry : rows.split(u'|')) {
            RecordingSettings settings =
                row(entry.section(u'@', 0, 0), u"http://a.example/%1"_s.arg(list.size()));
            const QTime start = QTime::fromString(entry.section(u'@', 1), u"hh:mm"_s);
            settings.startTime = start.hour() * 60 + start.minute();
            settings.days.fill(start.isValid());
            list.append(std::make_unique<Recording>(settings))->schedule();
        }
        QStringList names;
        for (int r = 0; r < sorted.rowCount(); ++r)
            names.append(sorted.index(r, 0).data().toString());
        QCOMPARE(names.join(u'|'), shown);
    }

    void closeSteps_data()
    {
        QTest::addColumn<QString>("situation"); // tray, capturing, scheduled, unsaved edits
        QTest::addColumn<QString>("steps");     // H(ide), E(dits asked), C(aptures asked), Q(uit)
        QTest::newRow("tray, capturing") << u"1100"_s << u"H"_s;
        QTest::newRow("tray, scheduled, edited") << u"1011"_s << u"H"_s;
        QTest::newRow("tray, idle, edited") << u"1001"_s << u"EQ"_s;
        QTest::newRow("no tray, capturing, edited") << u"0101"_s << u"ECQ"_s;
        QTest::newRow("no tray, scheduled") << u"0010"_s << u"Q"_s;
    }
    void closeSteps()
    {
        QFETCH(QString, situation);
        QFETCH(QString, steps);
        const auto on = [&](int i) { return situation.at(i) == u'1'; };
        QString taken;
        for (const auto step : CloseDecision::steps({on(0), on(1), on(2), on(3)}))
            taken += u"HECQ"_s.at(int(step));
        QCOMPARE(taken, steps);
    }

    void showsForeignTextPlain_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("link, ampersand") << u"Rock & Roll <a href=\"file:///etc/passwd\">x</a>"_s;
        QTest::newRow("image") << u"<b>x</b><img src=\"big.png\">"_s;
        QTest::newRow("qt tag") << u"<qt>R&amp;B"_s;
    }
    // A name from the list file in the overview's tooltip, and in both texts of
    // a real message box.
    void showsForeignTextPlain()
    {
        QFETCH(QString, text);
        RecordingList list;
        RecordingTableModel model(list);
        list.append(std::make_unique<Recording>(row(text)));
        QTextDocument toolTip;
        toolTip.setHtml(model.index(0, 0).data(Qt::ToolTipRole).toString());
        QCOMPARE(toolTip.toPlainText(), text);

        int plain = 0; // labels that show the text, as plain text
        QTimer::singleShot(0, &model, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            for (const QLabel *label : box->findChildren<QLabel *>())
                plain += label->text().contains(text) && label->textFormat() == Qt::PlainText;
            box->reject();
        });
        runAlert(nullptr, Alert{text, text, {}, {}});
        QCOMPARE(plain, 2);
    }

    void notifiesCaptures_data()
    {
        QTest::addColumn<bool>("tellStarts");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("told");
        QTest::newRow("ended") << false << QString() << u"a:Recording ended: 2 tracks saved"_s;
        // A station's words are escaped: servers read the body as markup.
        QTest::newRow("started, failed") << true << u"Connection failed: <b>R&B</b>"_s
                                         << u"a:Recording started|a:Recording failed: Connection "
                                            "failed: &lt;b&gt;R&amp;B&lt;/b&gt;\n2 tracks saved"_s;
    }
    void notifiesCaptures()
    {
        QFETCH(bool, tellStarts);
        QFETCH(QString, failure);
        QFETCH(QString, told);
        if (m_bus.state() != QProcess::Running)
            QSKIP("needs dbus-daemon");
        m_service.told.clear();
        DesktopNotifications notifications;
        notifications.setTellStarts(tellStarts);
        QObject source;
        notifications.captureStarted(&source, u"a"_s);
        QTRY_COMPARE(m_service.told.size(), int(tellStarts));
        notifications.captureEnded(&source, u"a"_s, Outcome{2, {}, failure, {}}.summary());
        QTRY_COMPARE(m_service.told.join(u'|'), told);
    }
};

SKYVANE_TEST_MAIN(TestOverview)
#include "tst_overview.moc"
