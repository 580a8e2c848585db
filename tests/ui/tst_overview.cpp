// The overview of every recording above the editor: its rows as the
// recordings change, their order and filter, picking a row to edit it, the
// live figures of a capture and Stop during the wait before a broken capture
// is resumed.
#include <QtTest>
#include <QtWidgets>

#include "platform/clock.h"
#include "stationsimulator.h"
#include "testmain.h"
#include "ui/alerts.h"
#include "ui/mainwindow.h"
#include "ui/recordingsortmodel.h"
#include "ui/recordingtablemodel.h"

using namespace Qt::StringLiterals;
using Settings = RecordingSettings;

namespace {

const QString refused = u"http://127.0.0.1:9/stream"_s; // nothing listens

Settings row(const QString &name, const QString &url = refused)
{
    Settings settings = Settings::fromJson({{u"name"_s, name}, {u"url"_s, url}});
    settings.days.fill(true);
    return settings;
}

} // namespace

class TestOverview : public QObject
{
    Q_OBJECT

    StationSimulator m_station;
    QDateTime m_now;
    QStringList m_told;
    std::unique_ptr<MainWindow> m_window;

    // A new window on a list file of these rows.
    void open(const QList<Settings> &rows)
    {
        m_window.reset();
        m_told.clear();
        RecordingList list;
        for (const Settings &settings : rows)
            list.append(std::make_unique<Recording>(settings));
        list.store();
        m_window = std::make_unique<MainWindow>();
    }
    template<class W = QWidget> W *ctl(const QString &n) { return m_window->findChild<W *>(n); }
    Recording *named(const QString &name)
    {
        for (int i = 0; i < m_window->list().size(); ++i) {
            if (m_window->list().at(i)->name() == name)
                return m_window->list().at(i);
        }
        return nullptr;
    }
    // Moves the overview's cursor to the row shown with this name, as the arrow keys do.
    void pick(const QString &name)
    {
        auto *view = ctl<QTableView>(u"overview"_s);
        const QModelIndexList rows =
            view->model()->match(view->model()->index(0, 0), Qt::DisplayRole, name);
        view->selectionModel()->setCurrentIndex(rows.value(0), QItemSelectionModel::ClearAndSelect |
                                                                   QItemSelectionModel::Rows);
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void initTestCase()
    {
        setAlertPresenter([this](QWidget *, const Alert &alert) {
            m_told.append(alert.title);
            return AlertAnswer::Default;
        });
        // A Wednesday at 09:00: every start at the default 10:00 is far off.
        m_now = QDateTime(QDate(2026, 12, 2), QTime(9, 0));
        Clock::setSource([this] { return m_now; });
        m_station.setRoute("/live", StationSimulator::Route::stream());
        QVERIFY(m_station.start());
    }
    void cleanup() { m_window.reset(); }

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
        Settings a = row(u"a"_s, run == u"live"_s ? m_station.url(u"/live") : refused);
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
            Settings settings =
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

    // The overview is sorted by name, not in list order. Picking another row
    // saves the one shown first; a refused save stays on it with what was
    // typed. A capture's figures follow the clock and come back whole, and its
    // name never carries a marker. A renamed row moves, still picked.
    void followsTheRowPicked()
    {
        open({row(u"Other"_s), row(u"Live"_s, m_station.url(u"/live"))});
        Recording *live = named(u"Live"_s);
        live->startCapture();
        m_now = m_now.addSecs(30 * 60);
        ctl<QLineEdit>(u"stationField"_s)->setText(u"ftp://a.example/"_s);
        pick(u"Live"_s);
        QCOMPARE(m_told, QStringList{u"Invalid URL"_s});
        QCOMPARE(ctl<QTableView>(u"overview"_s)->currentIndex().data().toString(), u"Other"_s);
        QCOMPARE(ctl<QLineEdit>(u"stationField"_s)->text(), u"ftp://a.example/"_s);
        ctl<QLineEdit>(u"stationField"_s)->setText(u"http://a.example/"_s);
        pick(u"Live"_s);
        QCOMPARE(named(u"Other"_s)->settings().url, u"http://a.example/"_s);
        QCOMPARE(ctl<QLineEdit>(u"nameField"_s)->text(), u"Live"_s);
        QCOMPARE(ctl<QProgressBar>(u"progress"_s)->value(), 500);
        QVERIFY(
            ctl<QLabel>(u"captureStatus"_s)->text().contains(u"0:30:00 recorded, 0:30:00 left"_s));
        QTRY_VERIFY(live->bytesWritten() > 0);
        ctl<QLineEdit>(u"nameField"_s)->setText(u"Zulu"_s);
        QVERIFY(m_window->editor().save());
        QCOMPARE(ctl<QTableView>(u"overview"_s)->currentIndex().row(), 1);
        QCOMPARE(ctl<QTableView>(u"overview"_s)->currentIndex().data().toString(), u"Zulu"_s);
        live->stopCapture();
    }

    // Stop ends the wait before a resume, and the regular start is planned.
    void stopsTheWaitToReconnect()
    {
        Settings gone = row(u"Gone"_s);
        gone.reconnect = true;
        open({gone});
        ctl<QAbstractButton>(u"nowButton"_s)->click();
        Recording *recording = named(u"Gone"_s);
        QTRY_COMPARE(recording->state(), Recording::State::WaitingToReconnect);
        QVERIFY(ctl<QLabel>(u"captureStatus"_s)->text().startsWith(u"Waiting to reconnect"_s));
        ctl<QAbstractButton>(u"stopButton"_s)->click();
        QCOMPARE(recording->state(), Recording::State::Failed);
        QVERIFY(recording->logText().contains(u"Stopped by user\nNext recording is at"_s));
        QCOMPARE(recording->nextStart(), QDateTime(m_now.date(), QTime(10, 0)));
        QVERIFY(!ctl(u"stopButton"_s)->isEnabled());
    }

    // Every label of a control and every check box has an Alt key of its own,
    // and the window fits half of a 1366 pixel wide screen.
    void fitsAndHasOwnMnemonics()
    {
        open({row(u"Jazz"_s)});
        QList<QChar> keys;
        for (QWidget *widget : m_window->findChildren<QWidget *>()) {
            const auto *label = qobject_cast<QLabel *>(widget);
            const auto *button = qobject_cast<QAbstractButton *>(widget);
            const QString text = label ? label->text() : button ? button->text() : QString();
            const qsizetype at = text.indexOf(u'&');
            QVERIFY2(at >= 0 || !(qobject_cast<QCheckBox *>(widget) || (label && label->buddy())),
                     qPrintable(widget->objectName()));
            if (at >= 0) {
                QVERIFY2(!keys.contains(text[at + 1].toLower()), qPrintable(text));
                keys.append(text[at + 1].toLower());
            }
        }
        m_window->show(); // the style's sizes count once it is polished
        QVERIFY(m_window->minimumSizeHint().width() <= 683);
    }
};

SKYVANE_TEST_MAIN(TestOverview)
#include "tst_overview.moc"
