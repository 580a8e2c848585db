// Skyvane in the background: what closing the window does, the autostart
// entry, what the window remembers, desktop notifications on a private session
// bus, and new recordings left before their first save.
#include <csignal>

#include <sys/prctl.h>

#include <QtTest>
#include <QtWidgets>

#include <QDBusConnection>

#include "platform/autostart.h"
#include "platform/desktopnotifications.h"
#include "stationsimulator.h"
#include "storedlist.h"
#include "testmain.h"
#include "ui/alerts.h"
#include "ui/closedecision.h"
#include "ui/mainwindow.h"
#include "ui/savequestion.h"

using namespace Qt::StringLiterals;

namespace {

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

class TestBackground : public QObject
{
    Q_OBJECT

    QProcess m_bus;
    Notifications m_service;
    StationSimulator m_station;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_told;
    AlertAnswer m_answer = AlertAnswer::Default;
    SaveAnswer m_saveAnswer = SaveAnswer::Cancel;

    // A shown window on a list of these rows, "a|b", each with this station.
    void open(const QString &names, const QString &url = u"http://127.0.0.1:9/"_s)
    {
        m_window.reset();
        m_told.clear();
        RecordingList list;
        for (const QString &name : names.split(u'|'))
            list.append(std::make_unique<Recording>(
                RecordingSettings::fromJson({{u"name"_s, name}, {u"url"_s, url}})));
        list.store();
        m_window = std::make_unique<MainWindow>();
        m_window->show();
    }

private Q_SLOTS:
    void initTestCase()
    {
        setAlertPresenter([this](QWidget *, const Alert &alert) {
            m_told.append(alert.title);
            return m_answer;
        });
        setSaveQuestionPresenter([this](QWidget *, const QString &name) {
            m_told.append(u"Save "_s + name);
            return m_saveAnswer;
        });
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
        m_window.reset();
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void closeSteps_data()
    {
        QTest::addColumn<QString>("situation"); // tray, capturing, scheduled, unsaved edits
        QTest::addColumn<QString>("steps");     // H(ide), E(dits asked), C(aptures asked), Q(uit)
        QTest::newRow("tray, capturing") << u"1100"_s << u"H"_s;
        QTest::newRow("tray, scheduled, edited") << u"1011"_s << u"H"_s;
        QTest::newRow("tray, idle") << u"1000"_s << u"Q"_s;
        QTest::newRow("tray, idle, edited") << u"1001"_s << u"EQ"_s;
        QTest::newRow("no tray, capturing") << u"0110"_s << u"CQ"_s;
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

    // Closing without a tray, through the real window: the questions asked,
    // whether it closed, and what the list file then holds.
    void closesTheWindow_data()
    {
        QTest::addColumn<QString>("typed"); // into the station field; "" none
        QTest::addColumn<bool>("capturing");
        QTest::addColumn<int>("answer"); // to the question asked last
        QTest::addColumn<QString>("told");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("fromTray"); // its Quit instead of closing the window
        const int save = int(SaveAnswer::Save), discard = int(SaveAnswer::Discard),
                  cancel = int(SaveAnswer::Cancel), alternate = int(AlertAnswer::Alternate);
        const QString quitWhileCapturing = u"Quit and end the recordings?"_s;
        const QString typed = u"http://a.example/"_s, invalid = u"ftp://a.example/"_s;
        QTest::newRow("idle") << QString() << false << 0 << QString() << true << false;
        QTest::newRow("capturing, quit")
            << QString() << true << alternate << quitWhileCapturing << true << false;
        QTest::newRow("edited, save") << typed << false << save << u"Save a"_s << true << false;
        QTest::newRow("edited, cancel")
            << typed << false << cancel << u"Save a"_s << false << false;
        QTest::newRow("invalid, save refused")
            << invalid << false << save << u"Save a|Invalid URL"_s << false << false;
        QTest::newRow("invalid, discard")
            << invalid << false << discard << u"Save a"_s << true << false;
        QTest::newRow("tray quit, idle") << QString() << false << 0 << QString() << true << true;
        QTest::newRow("tray quit, edited, cancel")
            << typed << false << cancel << u"Save a"_s << false << true;
    }
    void closesTheWindow()
    {
        QFETCH(QString, typed);
        QFETCH(bool, capturing);
        QFETCH(int, answer);
        QFETCH(QString, told);
        QFETCH(bool, closed);
        QFETCH(bool, fromTray);
        const int save = int(SaveAnswer::Save);
        open(u"a"_s, m_station.url(u"/live"));
        auto *station = m_window->findChild<QLineEdit *>(u"stationField"_s);
        if (!typed.isEmpty())
            station->setText(typed);
        QTRY_COMPARE(m_window->isWindowModified(), !typed.isEmpty());
        if (capturing)
            m_window->list().at(0)->startCapture();
        m_answer = AlertAnswer(answer);
        m_saveAnswer = SaveAnswer(answer);
        QSignalSpy quit(m_window.get(), &MainWindow::quitRequested);
        QCOMPARE(fromTray ? m_window->requestQuit() : m_window->close(), closed);
        QCOMPARE(m_told.join(u'|'), told);
        QCOMPARE(quit.size(), int(closed));
        QCOMPARE(m_window->list().at(0)->isCapturing(), capturing && !closed);
        QCOMPARE(storedList().contains("a.example"), closed && !typed.isEmpty() && answer == save);
        m_window->list().stopAll();
    }

    void writesTheAutostartEntry()
    {
        open(u"a"_s);
        auto *option = m_window->findChild<QAction *>(u"autostartAction"_s);
        option->setChecked(true);
        QFile entry(Autostart::entryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains("\nExec=skyvane --minimized\n"));
        option->setChecked(false);
        QVERIFY(!entry.exists());
    }

    void remembersTheWindow()
    {
        open(u"a|b|c"_s);
        m_window->editor().show(m_window->list().size() - 1);
        const QString shown = m_window->editor().current()->name();
        const QSize size =
            m_window->minimumSize().expandedTo(m_window->minimumSizeHint()) + QSize(40, 0);
        m_window->resize(size);
        QVERIFY(m_window->close());
        m_window = std::make_unique<MainWindow>();
        QCOMPARE(m_window->size(), size);
        QCOMPARE(m_window->editor().current()->name(), shown);
    }

    void notifiesCaptures_data()
    {
        QTest::addColumn<bool>("tellStarts");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("told");
        QTest::newRow("ended") << false << QString() << u"a:Recording ended: 2 tracks saved"_s;
        QTest::newRow("started, failed") << true << u"Connection stalled"_s
                                         << u"a:Recording started|a:Recording failed: "
                                            "Connection stalled\n2 tracks saved"_s;
        // A station's words are escaped: servers read the body as markup.
        QTest::newRow("markup") << false << u"Connection failed: <b>R&B</b>"_s
                                << u"a:Recording failed: Connection failed: "
                                   "&lt;b&gt;R&amp;B&lt;/b&gt;\n2 tracks saved"_s;
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

    // The window tells of the captures of every row, new ones included.
    void windowNotifiesAFailure()
    {
        if (m_bus.state() != QProcess::Running)
            QSKIP("needs dbus-daemon");
        m_service.told.clear();
        open(u"a|b"_s);
        m_window->list().at(1)->startCapture(); // nothing listens there
        QTRY_VERIFY(m_service.told.join(u'|').startsWith(u"b:Recording failed: Connection"_s));
        m_window->newPressed();
        m_window->list().at(2)->startCapture(); // "http://" alone
        QTRY_VERIFY(
            m_service.told.last().startsWith(u"New Recording 1:Recording failed: Can not"_s));
    }

    // A new recording left untouched is dropped, never stored with an empty station.
    void dropsAnUntouchedNewRecording()
    {
        open(u"a"_s);
        m_window->newPressed();
        m_window->newPressed();
        QCOMPARE(m_window->list().size(), 2);
        // Picking another row leaves it the same way, without a word.
        QTableView *overview = m_window->findChild<QTableView *>(u"overview"_s);
        overview->selectionModel()->setCurrentIndex(overview->model()->index(0, 0),
                                                    QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
        QVERIFY(m_window->list().size() == 1 && m_told.isEmpty());
        m_window->newPressed();
        QVERIFY(m_window->close());
        QVERIFY(!storedList().contains("New Recording"));
    }
};

SKYVANE_TEST_MAIN(TestBackground)
#include "tst_background.moc"
