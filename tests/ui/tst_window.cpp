// The window driven through its real widgets offscreen, on a list file in the
// scratch home: the field binding, the checks of a save, the enabling rules, the
// list commands and their shortcuts, dropped links, a capture from a station on
// 127.0.0.1 and picking rows in the overview, closing and the tray's Quit, the
// autostart entry and what the window remembers.
#include <QtTest>
#include <QtWidgets>

#include "testfiles.h"
#include "capture/nonsongtitles.h"
#include "capture/trackwriter.h"
#include "directory/directoryclient.h"
#include "platform/autostart.h"
#include "platform/clock.h"
#include "platform/textencodings.h"
#include "stationsimulator.h"
#include "testmain.h"
#include "ui/alerts.h"
#include "ui/mainwindow.h"
#include "ui/savequestion.h"
#include "ui/windowsettings.h"

using namespace Qt::StringLiterals;
using Settings = RecordingSettings;

namespace {

const QString storedUrl = u"http://127.0.0.1:9/stream"_s; // nothing listens
// A station's title that markup would show bold and linked.
const QString hostile = u"<b>R&B</b> <a href=\"file:///etc/passwd\">x</a>"_s;
const QStringList week =
    u"monButton tueButton wedButton thuButton friButton satButton sunButton"_s.split(u' ');

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

    StationSimulator m_station;
    QDateTime m_now;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_told; // the title of every alert, "Save <name>" for the save question
    AlertAnswer m_answer = AlertAnswer::Default;
    SaveAnswer m_saveAnswer = SaveAnswer::Cancel;

    // A new window on a list file of rows with these names, "a|b", every day
    // ticked so that a day cleared shows; the first row, changed by firstRow,
    // is returned.
    Settings open(const QString &names, const std::function<void(Settings &)> &firstRow = {})
    {
        m_window.reset();
        m_told.clear();
        RecordingList list;
        for (const QString &name : names.split(u'|')) {
            Settings settings = Settings::fromJson({{u"name"_s, name}, {u"url"_s, storedUrl}});
            settings.days.fill(true);
            if (firstRow && list.isEmpty())
                firstRow(settings);
            list.append(std::make_unique<Recording>(settings));
        }
        list.store();
        m_window = std::make_unique<MainWindow>();
        return list.at(0)->settings();
    }
    template<class W = QWidget> W *ctl(const QString &n) { return m_window->findChild<W *>(n); }
    static QMetaProperty user(const QWidget *w) { return w->metaObject()->userProperty(); }

    // What these controls show, joined by "|", a button "1" or "0"; or another
    // property of theirs.
    QString shownBy(const QStringList &names, const char *prop = nullptr)
    {
        QStringList shown;
        for (const QString &name : names) {
            const QVariant v = prop ? ctl(name)->property(prop) : user(ctl(name)).read(ctl(name));
            shown.append(v.typeId() == QMetaType::Bool ? QString::number(v.toInt()) : v.toString());
        }
        return shown.join(u'|');
    }
    // Picks a row of the overview, as the arrow keys do.
    void pick(int row)
    {
        auto *overview = ctl<QTableView>(u"overview"_s);
        overview->setCurrentIndex(overview->model()->index(row, 0));
        QCoreApplication::processEvents();
    }
    // The list file as the window leaves it: what it asked for is written first.
    QByteArray storedList()
    {
        m_window->list().flushStores();
        return fileContents(RecordingList::filePath());
    }

public Q_SLOTS:
    void opened(const QUrl &url) { m_told.append(url.toLocalFile()); }

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
        Clock::setSource([this] { return m_now; });
        auto live = StationSimulator::Route::stream(QByteArrayLiteral("ICY 200 OK"), 4000);
        live.titles = {hostile.toUtf8()};
        live.bytesPerSecond = 40000;
        m_station.setRoute("/live", live);
        QVERIFY(m_station.start());
    }
    // A Wednesday at 09:00: every start at the default 10:00 is far off.
    void init()
    {
        m_now = QDateTime(QDate(2026, 12, 2), QTime(9, 0));
        m_answer = AlertAnswer::Default;
        QLocale::setDefault(QLocale(u"en_GB"_s)); // a 24-hour clock unless a row says otherwise
    }

    void bindsEveryField_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("typed");  // then typed into the controls
        QTest::addColumn<QVariant>("saved"); // invalid: the value itself
        QTest::addColumn<QString>("told");   // beside the fields, refusing the save
        QTest::addColumn<QString>("locale"); // its clock is the editor's
        const auto add = [](const char *key, const QVariant &value, const QString &shown,
                            const QString &typed = {}, const QVariant &saved = {},
                            const QString &told = {}, const QString &locale = u"en_US"_s) {
            QTest::addRow("%s %s %s %s", key, qPrintable(value.toString()), qPrintable(typed),
                          qPrintable(locale))
                << QByteArray(key) << value << shown << typed << saved << told << locale;
        };
        for (const char *key :
             {"playList", "customTitle", "customArtist", "customAlbum", "customGenre"})
            add(key, u"Jazz Night"_s, u"Jazz Night"_s);
        for (const char *key : {"daily", "once", "splitSongs", "reconnect", "keepPartial"})
            add(key, true, u"1"_s);
        add("splitTitle", false, u"0"_s);
        add("recCount", 250, u"250"_s, u"2"_s, 2);
        add("titleOffsetMs", -2500, u"-2500"_s, u"-30001"_s, -30000);
        add("cutWindowMs", 0, u"0"_s, u"10001"_s, 10000);
        add("startTime", 0, u"12|00|AM"_s);
        // Typed: AM/PM counts by its first letter, numbers are read from the
        // start of the text, and a sum past 32 bits saturates.
        add("startTime", 1439, u"11|59|PM"_s, u"12|30|"_s, 30);
        add("startTime", 1439, u"11|59|PM"_s, u" 7 h|30 min|pm"_s, 1170);
        add("startTime", 1439, u"11|59|PM"_s, u"99999999999|0|"_s, std::numeric_limits<int>::max());
        add("startTime", 1439, u"23|59|"_s, u"12|2|"_s, 722, {}, u"de_DE"_s);
        add("duration", 150, u"2|30"_s, u"1 h|-5"_s, 55);
        add("duration", 150, u"2|30"_s, u"1|5"_s, 65); // not completed to "55"
        add("duration", 150, u"2|30"_s, u"0|0"_s, {}, u"Choose how long to record"_s);
        const auto offered = TextEncodings::available();
        add("shoutLang", qint32(offered.last().number), offered.last().displayName);
        // Not offered: the first is shown, and saved.
        add("shoutLang", 424242, offered.first().displayName, {}, qint32(offered.first().number));
        add("days", QVariantList{true, false, false, false, true, false, true}, u"1|0|0|0|1|0|1"_s);
        // The checks of a save: the name is trimmed and must not be another row's.
        const QString jazz = u"Jazz"_s, url = u"https://a.example:8000/"_s;
        add("name", jazz, jazz, u" Jazz "_s);
        add("name", jazz, jazz, u"JAZZ"_s, u"JAZZ"_s);
        add("name", jazz, jazz, u"other"_s, {}, u"Another recording is already named “other”."_s);
        add("url", url, url, u"\t"_s + url);
        add("url", url, url, u"  "_s, {}, u"Enter the station's web address"_s);
        const QString refused = u"This is not a station's address: the address "_s;
        add("url", url, url, u"ftp://a.example/"_s, {}, refused + u"does not start with http"_s);
        add("url", url, url, u"http://"_s, {}, u"Enter the station's web address"_s);
    }
    // Settings -> controls (-> typed) -> settings: one field changes, no other,
    // unless the save is refused.
    void bindsEveryField()
    {
        QFETCH(QByteArray, key);
        QFETCH(QVariant, value);
        QFETCH(QString, shown);
        QFETCH(QString, typed);
        QFETCH(QVariant, saved);
        QFETCH(QString, told);
        QFETCH(QString, locale);
        QLocale::setDefault(QLocale(locale));
        const auto field = std::ranges::find_if(Settings::fields(),
                                                [&key](const auto &f) { return key == f.key; });
        Settings expected = open(u"Show|Other"_s, [&](Settings &s) { field->assign(s, value); });
        const QStringList widgets =
            key == "startTime"  ? QStringList{u"hourTime"_s, u"minuteTime"_s, u"ampm"_s}
            : key == "duration" ? QStringList{u"hourDuration"_s, u"minuteDuration"_s}
            : key == "days"     ? week
                                : QStringList{QString::fromLatin1(field->control)};
        QCOMPARE(shownBy(widgets), shown);
        // A 24-hour clock shows no AM/PM.
        QCOMPARE(ctl(u"ampm"_s)->isHidden(), locale == u"de_DE"_s);
        for (qsizetype i = 0; !typed.isEmpty() && i < widgets.size(); ++i) {
            // Keys into a box with the focus, so that any completion of its has its say.
            const QString text = typed.section(u'|', i, i);
            if (auto *box = qobject_cast<QComboBox *>(ctl(widgets[i])); box && box->isEditable()) {
                m_window->show();
                QApplication::setActiveWindow(m_window.get());
                box->setFocus();
                box->clearEditText();
                QTest::keyClicks(box, text);
            } else {
                user(ctl(widgets[i])).write(ctl(widgets[i]), text);
            }
        }
        m_window->hide(); // the box loses the focus, as on Tab
        QCOMPARE(m_window->editor().save(), told.isEmpty());
        QVERIFY(m_told.isEmpty());
        const auto *problem = ctl<QLabel>(u"problemMessage"_s);
        QCOMPARE(problem->isHidden(), told.isEmpty());
        QVERIFY2(problem->text().startsWith(told), qPrintable(problem->text()));
        if (told.isEmpty())
            field->assign(expected, saved.isValid() ? saved : value);
        // A save plans the next start again, says so in the log when it moved,
        // and stores the row; a refusal does none of these.
        const QString log = m_window->list().at(0)->logText();
        QVERIFY(told.isEmpty() || log.count(u'\n') == 1);
        expected.log = told.isEmpty() ? log : QString();
        QCOMPARE(QJsonDocument::fromJson(storedList())[0].toObject(), expected.toJson());
        if (told.isEmpty()) // the name as saved, trimmed
            QCOMPARE(ctl<QLineEdit>(u"nameField"_s)->text(), expected.name);
    }

    // Daily, Split and Once clicked in turn: after each, which of the 7 days,
    // the 7 split options and Daily can be set. Once beats Daily.
    void enablesControls()
    {
        open(u"Jazz"_s);
        const QStringList controls =
            week + u"shoutLang shoutLangLabel splitTitle keepPartial fileNamePattern titleOffset "
                   u"cutWindow dailyButton"_s.split(u' ');
        QStringList enabled;
        for (const QString &button : {u"dailyButton"_s, u"splitButton"_s, u"onceButton"_s}) {
            ctl<QAbstractButton>(button)->click();
            enabled.append(shownBy(controls, "enabled").remove(u'|'));
        }
        QCOMPARE(enabled,
                 QStringList({u"000000000000001"_s, u"000000011111111"_s, u"111111111111110"_s}));
    }

    void runsListCommands_data()
    {
        // Lists of names are written "a|b|c".
        QTest::addColumn<QString>("command"); // its button; "cancel": Delete, then Cancel
        QTest::addColumn<QString>("rows");
        QTest::addColumn<int>("shown"); // its artist is edited before the command
        // The names in the list file, then the name|artist shown.
        QTest::addColumn<QString>("after");
        const QString nr = u"New Recording %1"_s, abc = u"a|b|c"_s;
        const QString gap = nr.arg(1) + u'|' + nr.arg(3);
        QTest::newRow("new fills a gap")
            << u"new"_s << gap << 1 << gap + u" / "_s + nr.arg(2) + u"|Skyvane"_s;
        QTest::newRow("clone") << u"clone"_s << u"a|a 2"_s << 0 << u"a|a 2 / a 3|Edited"_s;
        QTest::newRow("delete the last") << u"delete"_s << abc << 2 << u"a|b / b|Skyvane"_s;
        // The list is empty, which the overview says; the editor shows a new one's defaults.
        QTest::newRow("delete the only") << u"delete"_s << u"a"_s << 0 << u" / |Skyvane"_s;
        QTest::newRow("delete cancelled") << u"cancel"_s << abc << 0 << abc + u" / a|Edited"_s;
        QTest::newRow("revert") << u"revert"_s << abc << 0 << abc + u" / a|Skyvane"_s;
    }
    void runsListCommands()
    {
        QFETCH(QString, command);
        QFETCH(QString, rows);
        QFETCH(int, shown);
        QFETCH(QString, after);
        m_answer = command == u"cancel"_s ? AlertAnswer::Default : AlertAnswer::Alternate;
        open(rows);
        m_window->editor().show(shown);
        ctl<QLineEdit>(u"artistField"_s)->setText(u"Edited"_s);
        ctl<QAbstractButton>(command.replace(u"cancel"_s, u"delete"_s) + u"Button"_s)->click();
        // New and Clone save the row shown first and store the list without the
        // row they add; Delete stores the list; nothing else saves.
        QStringList names;
        for (const QJsonValue &entry : QJsonDocument::fromJson(storedList()).array())
            names.append(entry[u"name"].toString());
        QCOMPARE(names.join(u'|') + u" / "_s + shownBy({u"nameField"_s, u"artistField"_s}), after);
        QCOMPARE(storedList().contains("Edited"), command == u"new"_s || command == u"clone"_s);
        if (command == u"new"_s) // its station is the first thing to type
            QCOMPARE(m_window->focusWidget(), ctl(u"stationField"_s));
        QCOMPARE(ctl(u"emptyState"_s)->isHidden(), !m_window->list().isEmpty());
        QCOMPARE(ctl<QLabel>(u"emptyState"_s)->alignment(), Qt::AlignCenter); // mid-overview
    }

    // Each shortcut presses its button. The window goes before the event loop
    // would release them, so no command runs (Help would open a browser).
    void wiresShortcuts()
    {
        open(u"a"_s);
        m_window->show();
        QApplication::setActiveWindow(m_window.get());
        const auto keys = u"Ctrl+N new|Ctrl+Shift+F find|Ctrl+D clone|Ctrl+R now|Ctrl+. stop|"
                          "Ctrl+S save|F1 help"_s;
        for (const QString &pair : keys.split(u'|')) {
            auto *button = ctl<QAbstractButton>(pair.section(u' ', 1) + u"Button"_s);
            button->setEnabled(true);
            QTest::keySequence(m_window.get(), QKeySequence(pair.section(u' ', 0, 0)));
            QVERIFY2(button->isDown(), qPrintable(pair));
        }
        m_window.reset();
    }

    void takesDroppedStations_data()
    {
        // As text/x-moz-url has it, the URL then a line with its title; none: text only.
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("shown"); // drop action|name|playlist|station
        QTest::newRow("link with its title")
            << u"http://a.example/live stream\r\nRadio Ünïcode"_s
            << u"1|Radio Ünïcode|Radio Ünïcode|http://a.example/live%20stream"_s;
        QTest::newRow("text only") << QString() << u"0|Jazz|My Skyvane Recordings|"_s + storedUrl;
    }
    void takesDroppedStations()
    {
        QFETCH(QString, link);
        QFETCH(QString, shown);
        open(u"Jazz"_s);
        QMimeData data;
        data.setText(u"http://a.example/"_s);
        if (!link.isEmpty())
            data.setUrls({QUrl(link.section(u"\r\n"_s, 0, 0))});
        // A browser's text/x-moz-url: UTF-16, here marked and in the other byte order.
        if (link.contains(u'\n'))
            data.setData(u"text/x-moz-url"_s,
                         QStringEncoder(QStringEncoder::Utf16BE, QStringEncoder::Flag::WriteBom)
                             .encode(link));
        QDragEnterEvent enter({}, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &enter);
        QDropEvent drop({}, enter.possibleActions(), &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &drop);
        const bool taken = drop.isAccepted();
        QCOMPARE(enter.isAccepted(), taken); // what cannot be taken is refused as it comes in
        QCOMPARE(QString::number(taken ? drop.dropAction() : Qt::IgnoreAction) + u'|' +
                     shownBy({u"nameField"_s, u"playlistField"_s, u"stationField"_s}),
                 shown);
        // Only the controls change: nothing is saved until the user saves.
        QCOMPARE(m_window->list().at(0)->settings().url, storedUrl);
    }

    // A "once" recording captured from a real station: its day goes off, its
    // title is plain, the log grows line by line and shows anew when its front
    // is trimmed. Started again while another row is shown, nothing of it
    // reaches that row's controls. Picking the capture's row saves the one shown
    // first; a refused save stays on it with what was typed (the overview is
    // sorted by name, not in list order). The figures follow the clock and come
    // back whole. A renamed row moves, still picked.
    void followsACapture()
    {
        open(u"Live|Other"_s, [this](Settings &s) {
            s.url = m_station.url(u"/live");
            s.once = s.splitSongs = s.keepPartial = true;
            s.log = QString(15990, u'x') + u'\n';
        });
        m_window->show();
        Recording *live = m_window->list().at(0);
        auto *log = ctl<QPlainTextEdit>(u"log"_s);
        // Try says what the station sends, its title as plain text.
        ctl<QAbstractButton>(u"tryButton"_s)->click();
        QTRY_VERIFY(ctl<QLabel>(u"tryResult"_s)
                        ->text()
                        .endsWith(u"sends titles, now “"_s + hostile + u"”."_s));
        const QStringList commands{u"nowButton"_s, u"deleteButton"_s, u"stopButton"_s};
        live->startCapture();
        QCOMPARE(shownBy(commands, "enabled"), u"0|0|1"_s);
        QCOMPARE(shownBy(week), u"1|1|0|1|1|1|1"_s); // started on a Wednesday
        auto *status = ctl<QLabel>(u"captureStatus"_s);
        QTRY_VERIFY(status->text().startsWith(u"End of "_s + hostile + u" · 0:00:00 recorded"_s));
        QCOMPARE(status->textFormat(), Qt::PlainText);
        QTRY_VERIFY(!status->text().endsWith(u" 0 bytes"_s)); // the figures follow
        QCOMPARE(log->toPlainText(), live->logText());
        QVERIFY(log->textCursor().atEnd());
        QCOMPARE(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
        ctl<QAbstractButton>(u"stopButton"_s)->click();
        QVERIFY(log->toPlainText().contains(u"Stopped by user\n"_s));
        QTRY_VERIFY(!live->isCapturing());
        QCOMPARE(shownBy(commands, "enabled"), u"1|1|0"_s);
        QVERIFY(ctl(u"progress"_s)->isHidden());

        m_window->editor().show(1);
        live->startCapture();
        QCOMPARE(shownBy(week), u"1|1|1|1|1|1|1"_s);
        QCOMPARE(log->toPlainText(), m_window->list().at(1)->logText());
        m_now = m_now.addSecs(30 * 60);
        ctl<QLineEdit>(u"stationField"_s)->setText(u"ftp://a.example/"_s);
        pick(0);
        QVERIFY(m_told.isEmpty() && !ctl(u"problemMessage"_s)->isHidden());
        QCOMPARE(ctl<QTableView>(u"overview"_s)->currentIndex().data().toString(), u"Other"_s);
        QCOMPARE(ctl<QLineEdit>(u"stationField"_s)->text(), u"ftp://a.example/"_s);
        ctl<QLineEdit>(u"stationField"_s)->setText(u"http://a.example/"_s);
        pick(0);
        QCOMPARE(m_window->list().at(1)->settings().url, u"http://a.example/"_s);
        QCOMPARE(ctl<QProgressBar>(u"progress"_s)->value(), 500);
        ctl<QLineEdit>(u"nameField"_s)->setText(u"Zulu"_s);
        QVERIFY(m_window->editor().save());
        QCOMPARE(ctl<QTableView>(u"overview"_s)->currentIndex().row(), 1);
        QCOMPARE(ctl<QTableView>(u"overview"_s)->currentIndex().data().toString(), u"Zulu"_s);
        QCOMPARE(m_window->windowTitle(), u"Zulu[*] — Skyvane"_s);
        live->stopCapture();
    }

    // Closing without a tray, or the tray's Quit: the questions asked, whether
    // it closed, and what the list file then holds. The recording is scheduled.
    void closesTheWindow_data()
    {
        QTest::addColumn<QString>("typed"); // into the station field; "" none
        QTest::addColumn<bool>("capturing");
        QTest::addColumn<int>("save");  // the answer to saving the edits
        QTest::addColumn<bool>("quit"); // to quitting when it ends or skips recordings
        QTest::addColumn<QString>("told");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("fromTray"); // its Quit instead of closing the window
        const int save = int(SaveAnswer::Save), discard = int(SaveAnswer::Discard),
                  cancel = int(SaveAnswer::Cancel);
        const QString typed = u"http://a.example/"_s, invalid = u"ftp://a.example/"_s;
        const QString skip = u"Quit and skip the scheduled recordings?"_s;
        QTest::newRow("capturing, quit") << QString() << true << save << true
                                         << u"Quit and end the recordings?"_s << true << false;
        QTest::newRow("edited, save")
            << typed << false << save << true << u"Save a|"_s + skip << true << false;
        QTest::newRow("invalid, save refused")
            << invalid << false << save << true << u"Save a"_s << false << false;
        QTest::newRow("invalid, discard")
            << invalid << false << discard << true << u"Save a|"_s + skip << true << false;
        QTest::newRow("scheduled, stay")
            << QString() << false << save << false << skip << false << false;
        QTest::newRow("tray quit, edited, cancel")
            << typed << false << cancel << true << u"Save a"_s << false << true;
    }
    void closesTheWindow()
    {
        QFETCH(QString, typed);
        QFETCH(bool, capturing);
        QFETCH(int, save);
        QFETCH(bool, quit);
        QFETCH(QString, told);
        QFETCH(bool, closed);
        QFETCH(bool, fromTray);
        open(u"a"_s, [this](Settings &s) { s.url = m_station.url(u"/live"); });
        if (!typed.isEmpty())
            ctl<QLineEdit>(u"stationField"_s)->setText(typed);
        QTRY_COMPARE(m_window->isWindowModified(), !typed.isEmpty());
        if (capturing)
            m_window->list().at(0)->startCapture();
        m_answer = quit ? AlertAnswer::Alternate : AlertAnswer::Default;
        m_saveAnswer = SaveAnswer(save);
        QSignalSpy quitting(m_window.get(), &MainWindow::quitRequested);
        QCOMPARE(fromTray ? m_window->requestQuit() : m_window->close(), closed);
        QCOMPARE(m_told.join(u'|'), told);
        QCOMPARE(quitting.size(), int(closed));
        QCOMPARE(m_window->list().at(0)->isCapturing(), capturing && !closed);
        QCOMPARE(storedList().contains("a.example"),
                 closed && !typed.isEmpty() && save == int(SaveAnswer::Save));
    }

    // The window opens within the screen, and at 800x600 it still shows rows,
    // the first fields and the status line.
    void fitsASmallScreen()
    {
        open(u"a|b|"_s + QString(300, u'x'));
        m_window->show();
        const QRect screen = m_window->screen()->availableGeometry();
        QVERIFY(screen.contains(m_window->frameGeometry()));
        m_window->resize(QSize(800, 600) - (m_window->frameGeometry().size() - m_window->size()));
        QCoreApplication::processEvents();
        for (const QString &name : {u"filterField"_s, u"nameField"_s, u"stationField"_s})
            QVERIFY2(!ctl(name)->visibleRegion().isEmpty(), qPrintable(name));
        for (const QString &name : {u"captureStatus"_s, u"progress"_s}) {
            const QRect at(ctl(name)->mapTo(m_window.get(), QPoint()), ctl(name)->size());
            QVERIFY2(m_window->rect().contains(at), qPrintable(name));
        }
        auto *overview = ctl<QTableView>(u"overview"_s);
        QVERIFY(overview->viewport()->height() >= 3 * overview->rowHeight(0));
        QVERIFY(overview->columnWidth(0) <= overview->viewport()->width() / 4); // a long name
        // A screen reader names an editable box's line edit by the box.
        QCOMPARE(ctl<QComboBox>(u"minuteTime"_s)->lineEdit()->accessibleName(), u"Start minute"_s);
    }

    // Ctrl+F goes to the filter; on a row, Enter edits it and Delete asks to
    // delete it. A row's menu offers what its recording can do; a
    // notification's Show picks its row.
    void keysOfTheOverview()
    {
        open(u"a|b"_s);
        m_window->show();
        QApplication::setActiveWindow(m_window.get());
        ctl<QLineEdit>(u"filterField"_s)->setText(u"x"_s);
        QTest::keySequence(m_window.get(), QKeySequence::Find);
        QVERIFY(ctl(u"filterField"_s)->hasFocus());
        QCOMPARE(ctl<QLineEdit>(u"filterField"_s)->selectedText(), u"x"_s); // typing replaces it
        ctl<QLineEdit>(u"filterField"_s)->clear();
        QTest::keyClick(ctl(u"overview"_s), Qt::Key_Return);
        QVERIFY(ctl(u"nameField"_s)->hasFocus());
        QTest::keyClick(ctl(u"overview"_s), Qt::Key_Delete);
        QCOMPARE(m_told, QStringList{u"Delete the recording “a”?"_s});
        QStringList offered;
        QTimer::singleShot(0, m_window.get(), [&offered] {
            for (QAction *action : QApplication::activePopupWidget()->actions())
                offered << action->text() + QString::number(action->isEnabled());
            QApplication::activePopupWidget()->close();
        });
        auto *overview = ctl<QTableView>(u"overview"_s);
        Q_EMIT overview->customContextMenuRequested(
            overview->visualRect(overview->model()->index(1, 0)).center());
        QCOMPARE(offered.join(u'|'), u"Record Now1|Stop0|Edit1|Clone1|Delete…1|Open Folder1"_s);
        // Open Folder hands the music folder to the desktop, and says when nothing opened it.
        QDesktopServices::setUrlHandler(u"file"_s, this, "opened");
        ctl<QAction>(u"openFolderAction"_s)->trigger();
        QCOMPARE(m_told.last(), TrackWriter::folder());
        ctl<QAction>(u"nonSongTitlesAction"_s)->trigger(); // the file is made, then handed over
        QVERIFY(m_told.last() == NonSongTitles::path() && QFileInfo(m_told.last()).isFile());
        QVERIFY(QFile::remove(NonSongTitles::path()) && QDir().mkpath(NonSongTitles::path()));
        ctl<QAction>(u"nonSongTitlesAction"_s)->trigger(); // a folder in the file's place
        QCOMPARE(m_told.last(), u"The non-song titles could not be opened"_s);
        QDesktopServices::setUrlHandler(u"file"_s, this, "missing"); // no such slot: not opened
        ctl<QAction>(u"openFolderAction"_s)->trigger();
        QDesktopServices::unsetUrlHandler(u"file"_s);
        QCOMPARE(m_told.last(), u"The folder could not be opened"_s);
        QCOMPARE(m_window->editor().current()->name(), u"b"_s);
        m_window->hide();
        m_window->showRecording(m_window->list().at(0));
        QVERIFY(m_window->isVisible());
        QCOMPARE(m_window->editor().current()->name(), u"a"_s);
    }

    // Find Station: a search of a directory on 127.0.0.1, its words shown as
    // they are; the station found tried; the station taken becomes a stored
    // recording and a click.
    void findsAStation()
    {
        open(u"a"_s);
        StationSimulator directory;
        QVERIFY(directory.start());
        const QString live = m_station.url(u"/live");
        // A full page, the best voted first: there may be more.
        QByteArray found = "[{\"stationuuid\": \"7\", \"name\": \"<b>Jazz</b> FM\", \"url\": \"" +
                           live.toUtf8() + "\", \"tags\": \"smooth jazz\"}";
        found += QByteArray(", {\"stationuuid\": \"8\", \"name\": \"B\", \"url\": \"http://b/\"}")
                     .repeated(49) +
                 ']';
        const auto json = [](const QByteArray &body) {
            return StationSimulator::Route::page("HTTP/1.1 200 OK", "application/json", body);
        };
        const QByteArray search =
            "/json/stations/search?name=jazz&hidebroken=true&order=votes&reverse=true&offset=";
        directory.setRoute(search + "0&limit=50", json(found));
        directory.setRoute(search + "50&limit=50", json("[]"));
        directory.setRoute(QByteArray(search).replace("jazz", "slow") + "0&limit=50",
                           {.statusLine = "HTTP/1.1 200 OK", .stallAfterAudio = 0});
        directory.setRoute("/json/url/7", json("{}"));
        m_window->setDirectoryUrl(QUrl(directory.url(u"")));
        ctl<QAbstractButton>(u"findButton"_s)->click();
        auto *dialog = m_window->findChild<QDialog *>();
        const auto button = [dialog](const QString &name) {
            return dialog->findChild<QPushButton *>(name + u"Button"_s);
        };
        auto *status = dialog->findChild<QLabel *>(u"searchStatus"_s);
        dialog->findChild<QLineEdit *>(u"searchName"_s)->setText(u"slow"_s);
        button(u"search"_s)->click();
        button(u"cancel"_s)->click(); // a directory that does not answer
        QVERIFY(status->text() == u"The search was stopped." && button(u"search"_s)->isEnabled());
        dialog->findChild<QLineEdit *>(u"searchName"_s)->setText(u"jazz"_s);
        QTest::keyClick(dialog->findChild<QLineEdit *>(u"searchName"_s), Qt::Key_Return);
        QTRY_COMPARE(status->text(), u"50 stations, the best voted first."_s);
        button(u"try"_s)->click();               // the best one, picked
        QVERIFY(!button(u"try"_s)->isEnabled()); // one try at a time
        QTRY_VERIFY(status->text().endsWith(u"”."_s));
        button(u"more"_s)->click(); // the next page, the last: it is not full
        QTRY_VERIFY(button(u"search"_s)->isEnabled() && !button(u"more"_s)->isEnabled());
        button(u"add"_s)->click();
        QCOMPARE(shownBy({u"nameField"_s, u"stationField"_s, u"genreChoice"_s}),
                 u"<b>Jazz</b> FM|"_s + live + u"|Smooth jazz"_s);
        QVERIFY(storedList().contains(live.toUtf8()));
        QTRY_VERIFY(directory.requests().last().requestLine.startsWith("GET /json/url/7 "));
    }

    void writesTheAutostartEntry()
    {
        open(u"a"_s);
        ctl<QAction>(u"autostartAction"_s)->setChecked(true);
        ctl<QAction>(u"notifyStartsAction"_s)->setChecked(true);
        QVERIFY(fileContents(Autostart::entryPath()).contains("\nExec=skyvane --minimized\n"));
        open(u"a"_s); // the options show what the desktop will do, and what was chosen
        QVERIFY(ctl<QAction>(u"autostartAction"_s)->isChecked());
        QVERIFY(ctl<QAction>(u"notifyStartsAction"_s)->isChecked());
        ctl<QAction>(u"autostartAction"_s)->setChecked(false);
        QVERIFY(!QFile::exists(Autostart::entryPath()));
        // A file where the start list's folder goes: the entry cannot be written.
        const QString folder = QFileInfo(Autostart::entryPath()).path();
        QVERIFY(QDir(folder).removeRecursively() && !writeFile(folder, {}).isEmpty());
        ctl<QAction>(u"autostartAction"_s)->setChecked(true);
        QVERIFY(!ctl<QAction>(u"autostartAction"_s)->isChecked() && QFile::remove(folder));
        QCOMPARE(m_told, QStringList{u"Could not change the desktop's start list"_s});
    }

    // Quitting remembers the window's size and the row shown. A new recording
    // left untouched goes, without a word, on New or when another row is
    // picked: it would be stored with an empty station.
    void remembersTheWindow()
    {
        open(u"a|b|c"_s);
        m_window->newPressed();
        m_window->newPressed();
        QCOMPARE(m_window->list().size(), 4);
        pick(2); // "c"
        QCOMPARE(m_window->list().size(), 3);
        const QSize size(700, 500);
        m_window->resize(size);
        // As the session ends: valid edits are saved without a question.
        ctl<QLineEdit>(u"artistField"_s)->setText(u"Edited"_s);
        m_window->quitNow();
        QVERIFY(m_told.isEmpty() && storedList().contains("Edited"));
        m_window = std::make_unique<MainWindow>();
        QCOMPARE(m_window->size(), size);
        QCOMPARE(m_window->editor().current()->name(), u"c"_s);
        // A directory's address that does not parse is the public one.
        QSettings(u"Skyvane"_s, u"Skyvane"_s).setValue(u"directory/url"_s, u"http://[x"_s);
        QCOMPARE(WindowSettings::directoryUrl(), DirectoryClient::defaultBaseUrl());
    }
};

SKYVANE_TEST_MAIN(TestWindow)
#include "tst_window.moc"
