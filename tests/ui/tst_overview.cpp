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
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

#include "model/recordinglist.h"
#include "platform/clock.h"
#include "platform/desktopnotifications.h"
#include "stationsimulator.h"
#include "testmain.h"
#include "ui/alerts.h"
#include "ui/closedecision.h"
#include "ui/recordingsortmodel.h"
#include "ui/recordingtablemodel.h"
#include "model/relativetime.h"
#include "ui/savequestion.h"
#include "ui/trayicon.h"
#include "ui/traytext.h"

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
    QStringList told; // "<summary>:<body>", then "[<actions>]" when some are offered
    QStringList capabilities;
    uint lastId = 0;

    // The user chose an action of notification `id`.
    void invoke(uint id, const QString &key)
    {
        QDBusMessage signal =
            QDBusMessage::createSignal(u"/org/freedesktop/Notifications"_s,
                                       u"org.freedesktop.Notifications"_s, u"ActionInvoked"_s);
        QDBusConnection::sessionBus().send(signal << id << key);
    }

public Q_SLOTS:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &, int)
    {
        told.append(summary + u':' + body +
                    (actions.isEmpty() ? QString() : u'[' + actions.join(u',') + u']'));
        return lastId = replaces ? replaces : lastId + 1;
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
        const QString failed = u"|Could not connect to the station ("_s;
        QTest::newRow("planned") << u"schedule"_s << u"in 1 h|Every day|Scheduled|"_s;
        QTest::newRow("no day") << u"no day"_s << u"|None|Not scheduled|"_s;
        QTest::newRow("once") << u"once"_s << u"Fri 10:00|Once: Mon Fri–Sun|Scheduled|"_s;
        QTest::newRow("capturing")
            << u"live"_s << u"ends in 1 h|Every day|Recording|0 tracks saved"_s;
        QTest::newRow("broke off")
            << u"reconnect"_s << u"in under a minute|Every day|Waiting to reconnect"_s + failed;
        QTest::newRow("failed") << u"fail"_s << u"in 1 h|Every day|Last run failed"_s + failed;
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
            a.days = {a.once, false, false, false, a.once, a.once, a.once};
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
        QCOMPARE(model.headerData(0, Qt::Horizontal), u"Name"_s);
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
        sorted.sort(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        for (const QString &entry : rows.split(u'|')) {
            RecordingSettings settings =
                row(entry.section(u'@', 0, 0), u"http://a.example/%1"_s.arg(list.size()));
            const QTime start = QTime::fromString(entry.section(u'@', 1), u"hh:mm"_s);
            settings.startTime = start.hour() * 60 + start.minute();
            settings.days.fill(start.isValid());
            list.append(std::make_unique<Recording>(settings))->schedule();
        }
        sorted.setFilterText(filter);
        QStringList names;
        for (int r = 0; r < sorted.rowCount(); ++r)
            names.append(sorted.index(r, 0).data().toString());
        QCOMPARE(names.join(u'|'), shown);
    }

    void closeSteps_data()
    {
        // Tray, capturing, scheduled, unsaved edits, Quit asked for.
        QTest::addColumn<QString>("situation");
        // H(ide), E(dits asked), C(aptures asked), S(kipping the schedule asked), Q(uit).
        QTest::addColumn<QString>("steps");
        QTest::newRow("tray, capturing") << u"11000"_s << u"H"_s;
        QTest::newRow("tray, scheduled, edited") << u"10110"_s << u"H"_s;
        QTest::newRow("tray, idle, edited") << u"10010"_s << u"EQ"_s;
        QTest::newRow("no tray, capturing, scheduled, edited") << u"01110"_s << u"ECQ"_s;
        QTest::newRow("no tray, scheduled") << u"00100"_s << u"SQ"_s;
        QTest::newRow("tray, Quit, scheduled") << u"10101"_s << u"SQ"_s;
    }
    void closeSteps()
    {
        QFETCH(QString, situation);
        QFETCH(QString, steps);
        const auto on = [&](int i) { return situation.at(i) == u'1'; };
        QString taken;
        for (const auto step : CloseDecision::steps({on(0), on(1), on(2), on(3), on(4)}))
            taken += u"HECSQ"_s.at(int(step));
        QCOMPARE(taken, steps);
    }

    void relativeTimes_data()
    {
        QTest::addColumn<int>("seconds"); // from Wednesday 2 December 2026, 09:00
        QTest::addColumn<QString>("shown");
        for (const auto &[seconds, shown] : std::initializer_list<std::pair<int, const char *>>{
                 {59, "in under a minute"},
                 {60, "in 1 min"},
                 {3599, "in 59 min"},
                 {3600, "in 1 h"},
                 {3 * 3600 - 60, "in 2 h 59 min"},
                 {3 * 3600, "Today 12:00"},
                 {15 * 3600, "Tomorrow 00:00"},
                 {5 * 86400, "Mon 09:00"},
                 {7 * 86400, "09/12/2026 09:00"},
                 {-59, "just now"},
                 {-3599, "59 min ago"},
                 {-3600, "Today 08:00"},
                 {-9 * 3600 - 1, "Yesterday 23:59"}})
            QTest::addRow("%d", seconds) << seconds << QString::fromUtf8(shown);
    }
    // In the user's language where it names a day; the overview's tooltip has the full date.
    void relativeTimes()
    {
        QFETCH(int, seconds);
        QFETCH(QString, shown);
        const QDateTime now(QDate(2026, 12, 2), QTime(9, 0));
        QCOMPARE(RelativeTime::text(now.addSecs(seconds), now, QLocale(u"en_GB"_s)), shown);
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

        // Real message boxes, an alert and the question before quitting with
        // unsaved edits, titled and explained: every label with the text is
        // plain. Enter saves, Escape cancels, Discard is a click away.
        int plain = 0, titled = 0;
        const auto answer = [&](int key) {
            QTimer::singleShot(0, &model, [&, key] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                for (const QLabel *label : box->findChildren<QLabel *>())
                    plain += label->text().contains(text) && label->textFormat() == Qt::PlainText;
                titled += box->windowTitle() == u"Skyvane" && !box->informativeText().isEmpty();
                key ? QTest::keyClick(box, Qt::Key(key))
                    : box->button(QMessageBox::Discard)->click();
            });
        };
        answer(Qt::Key_Escape);
        QCOMPARE(runAlert(nullptr, Alert{text, text, {}, u"Go"_s}), AlertAnswer::Default);
        QList<SaveAnswer> answers;
        for (const int key : {int(Qt::Key_Return), int(Qt::Key_Escape), 0}) {
            answer(key);
            answers.append(askToSave(nullptr, text));
        }
        QCOMPARE(plain + titled, 9);
        QCOMPARE(answers,
                 (QList<SaveAnswer>{SaveAnswer::Save, SaveAnswer::Cancel, SaveAnswer::Discard}));
    }

    void notifiesCaptures_data()
    {
        QTest::addColumn<bool>("tellStarts");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("nothingKept"); // then no track was saved
        QTest::addColumn<QString>("action");      // chosen on the notification of the end
        QTest::addColumn<QString>("told");
        const QString offered = u"[show,Show,open-folder,Open Folder]"_s;
        QTest::newRow("no actions shown") << false << QString() << QString() << QString()
                                          << u"a:Recording ended: 2 tracks saved"_s;
        QTest::newRow("nothing kept, shown")
            << false << QString() << u"the station sent no audio"_s << u"show"_s
            << u"a:Recording ended: no track saved — the station sent no audio"_s + offered;
        // A station's words are escaped: servers read the body as markup.
        QTest::newRow("started, failed, folder opened")
            << true << u"Could not connect to the station (<b>R&B</b>)"_s << QString()
            << u"open-folder"_s
            << u"a:Recording started|a:Recording failed: Could not connect to the station "
               "(&lt;b&gt;R&amp;B&lt;/b&gt;)\n2 tracks saved"_s +
                   offered;
    }
    void notifiesCaptures()
    {
        QFETCH(bool, tellStarts);
        QFETCH(QString, failure);
        QFETCH(QString, nothingKept);
        QFETCH(QString, action);
        QFETCH(QString, told);
        if (m_bus.state() != QProcess::Running)
            QSKIP("needs dbus-daemon");
        m_service.told.clear();
        m_service.capabilities = {u"body"_s};
        if (!action.isEmpty())
            m_service.capabilities << u"actions"_s;
        DesktopNotifications notifications;
        notifications.setTellStarts(tellStarts);
        QSignalSpy asked(&notifications, action == u"show"
                                             ? &DesktopNotifications::showRequested
                                             : &DesktopNotifications::openFolderRequested);
        QObject source;
        notifications.captureStarted(&source, u"a"_s);
        QTRY_COMPARE(m_service.told.size(), int(tellStarts));
        const Outcome outcome{nothingKept.isEmpty() ? 2 : 0, {}, failure, {}, {}, nothingKept};
        notifications.captureEnded(&source, u"a"_s, outcome.summary());
        QTRY_COMPARE(m_service.told.join(u'|'), told);
        QTRY_VERIFY(notifications.findChildren<QDBusPendingCallWatcher *>().isEmpty()); // answered
        if (action.isEmpty())
            return;
        m_service.invoke(m_service.lastId + 1, action); // another program's notification
        m_service.invoke(m_service.lastId, action);
        QTRY_COMPARE(asked.size(), 1);
        QCOMPARE(asked.first().first().value<QObject *>(), &source);
    }

    void traySummary_data()
    {
        QTest::addColumn<QStringList>("captures"); // "name|title|seconds left"
        QTest::addColumn<QString>("next");         // "name|start", now being 2 Dec 2026 09:00
        QTest::addColumn<QString>("toolTip");      // as shown
        QTest::newRow("idle") << QStringList() << QString() << u"Skyvane"_s;
        QTest::newRow("planned") << QStringList() << u"a|2026-12-03T07:45"_s
                                 << u"Skyvane — next: a (Tomorrow 07:45)"_s;
        QTest::newRow("one, under a minute") << QStringList{u"a||59"_s} << u"b|2026-12-02T10:00"_s
                                             << u"Skyvane — recording 1:\na: under a minute left"_s;
        // A station's title and a name from the list file are shown as written.
        QTest::newRow("one, markup")
            << QStringList{u"R&B <b>x</b>|<img src=\"y\"> & co|60"_s} << QString()
            << u"Skyvane — recording 1:\nR&B <b>x</b>: “<img src=\"y\"> & co”, 1 min left"_s;
        QTest::newRow("two, an hour")
            << QStringList{u"Morning Show|Artist - Song|3600"_s, u"Jazz Night||3959"_s} << QString()
            << u"Skyvane — recording 2:\nMorning Show: “Artist - Song”, 1 h left\n"
               "Jazz Night: 1 h 5 min left"_s;
    }
    // What the tray icon says of the captures under way, or of the next start.
    void traySummary()
    {
        QFETCH(QStringList, captures);
        QFETCH(QString, next);
        QFETCH(QString, toolTip);
        QList<TrayText::Capture> running;
        for (const QString &capture : std::as_const(captures)) {
            const QStringList parts = capture.split(u'|');
            running.append({parts[0], parts[1], parts[2].toLongLong()});
        }
        const QStringList start = next.split(u'|');
        const TrayText::NextStart planned{start[0],
                                          QDateTime::fromString(start.last(), Qt::ISODate)};
        // As QToolTip reads it.
        const QString given =
            TrayText::toolTip(running, planned, QDateTime(QDate(2026, 12, 2), QTime(9, 0)));
        QTextDocument shown;
        Qt::mightBeRichText(given) ? shown.setHtml(given) : shown.setPlainText(given);
        QCOMPARE(shown.toPlainText(), toolTip);
    }

    // The icon itself, offscreen where no tray shows it: its menu and tooltip
    // follow the list, and its items do what they say.
    void trayFollowsCaptures()
    {
        RecordingList list;
        Recording *a =
            list.append(std::make_unique<Recording>(row(u"R&B"_s, m_station.url(u"/live"))));
        QWidget window;
        QAction option(u"Option"_s);
        TrayIcon tray(&window, {&option}, list);
        auto *menu = window.findChild<QMenu *>();
        auto *icon = tray.findChild<QSystemTrayIcon *>();
        const auto items = [menu] {
            QStringList texts;
            for (const QAction *action : menu->actions())
                texts << action->text() + (action->isEnabled() ? u""_s : u"(off)"_s);
            return texts.join(u'|');
        };
        const auto item = [menu](int i) { return menu->actions().at(i); };
        const QString idle = u"&Show Skyvane|S&top All Recordings(off)||Option||&Quit Skyvane"_s;
        QCOMPARE(items(), idle);
        list.append(std::make_unique<Recording>(row(u"Gone"_s)))->schedule();
        QTRY_VERIFY(icon->toolTip().contains(u"next: Gone"_s));
        list.takeAt(1); // a recording taken is forgotten
        QTRY_VERIFY(!icon->toolTip().contains(u"Gone"_s));

        a->startCapture();
        QTRY_COMPARE(items(),
                     u"&Show Skyvane|Stop “R&&B”|S&top All Recordings||Option||&Quit Skyvane"_s);
        QVERIFY(icon->toolTip().contains(u"R&B: 1 h left"_s));
        QSignalSpy stopAll(&tray, &TrayIcon::stopAllRequested),
            show(&tray, &TrayIcon::showRequested), quit(&tray, &TrayIcon::quitRequested);
        item(2)->trigger();
        item(1)->trigger(); // Stop “R&B”
        QTRY_COMPARE(items(), idle);
        Q_EMIT icon->activated(QSystemTrayIcon::Context); // the menu, not the window
        Q_EMIT icon->activated(QSystemTrayIcon::DoubleClick);
        item(0)->trigger();
        item(5)->trigger();
        QCOMPARE(QList<qsizetype>({stopAll.size(), show.size(), quit.size()}),
                 QList<qsizetype>({1, 2, 1}));
    }
};

SKYVANE_TEST_MAIN(TestOverview)
#include "tst_overview.moc"
