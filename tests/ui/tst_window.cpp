// The window driven through its real widgets offscreen, on a list file in the
// scratch home: the field binding, the checks of a save, the enabling rules, the
// list commands, dropped links and a capture from a station on 127.0.0.1.
#include <QtTest>
#include <QtWidgets>

#include "platform/clock.h"
#include "platform/textencodings.h"
#include "stationsimulator.h"
#include "storedlist.h"
#include "testmain.h"
#include "ui/alerts.h"
#include "ui/mainwindow.h"
#include "ui/savequestion.h"

using namespace Qt::StringLiterals;
using Settings = RecordingSettings;

namespace {

const QString storedUrl = u"http://127.0.0.1:9/stream"_s; // nothing listens
const QStringList week =
    u"monButton tueButton wedButton thuButton friButton satButton sunButton"_s.split(u' ');

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

    StationSimulator m_station;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_told; // the title of every alert
    AlertAnswer m_answer = AlertAnswer::Default;
    std::function<void()> m_whileAsked; // runs inside each alert, as its event loop would

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

private Q_SLOTS:
    void initTestCase()
    {
        setAlertPresenter([this](QWidget *, const Alert &alert) {
            m_told.append(alert.title);
            if (m_whileAsked)
                m_whileAsked();
            return m_answer;
        });
        setSaveQuestionPresenter([](QWidget *, const QString &) { return SaveAnswer::Save; });
        // A Wednesday at 09:00: every start at the default 10:00 is far off.
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 2), QTime(9, 0)); });
        m_station.setRoute("/live", StationSimulator::Route::stream());
        QVERIFY(m_station.start());
    }

    void bindsEveryField_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("typed");  // then typed into the controls
        QTest::addColumn<QVariant>("saved"); // invalid: the value itself
        QTest::addColumn<QString>("told");   // the alert refusing the save
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
        add("startTime", 0, u"12|00|AM"_s);
        add("startTime", 720, u"12|00|PM"_s);
        // Typed: AM/PM counts by its first letter, numbers are read from the
        // start of the text, and a sum past 32 bits saturates.
        add("startTime", 1439, u"11|59|PM"_s, u"12|30|"_s, 30);
        add("startTime", 1439, u"11|59|PM"_s, u" 7 h|30 min|pm"_s, 1170);
        add("startTime", 1439, u"11|59|PM"_s, u"99999999999|0|"_s, std::numeric_limits<int>::max());
        add("startTime", 1439, u"23|59|"_s, u"12|2|"_s, 722, {}, u"de_DE"_s);
        add("duration", 150, u"2|30"_s, u"1 h|-5"_s, 55);
        const auto offered = TextEncodings::available();
        add("shoutLang", qint32(offered.last().number), offered.last().displayName);
        // Not offered: the first is shown, and saved.
        add("shoutLang", 424242, offered.first().displayName, {}, qint32(offered.first().number));
        add("days", QVariantList{true, false, false, false, true, false, true}, u"1|0|0|0|1|0|1"_s);
        // The checks of a save: the name is trimmed and must not be another row's.
        const QString jazz = u"Jazz"_s, url = u"https://a.example:8000/"_s;
        add("name", jazz, jazz, u" Jazz "_s);
        add("name", jazz, jazz, u"JAZZ"_s, u"JAZZ"_s);
        add("name", jazz, jazz, u"other"_s, {}, u"Name already in use"_s);
        add("url", url, url, u"\t"_s + url);
        add("url", url, url, u"  "_s, {}, u"Missing Station URL"_s);
        add("url", url, url, u"ftp://a.example/"_s, {}, u"Invalid URL"_s);
        add("url", url, url, u"http://"_s, {}, u"Invalid URL"_s);
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
        QCOMPARE(m_told.join(u'\n'), told);
        if (told.isEmpty())
            field->assign(expected, saved.isValid() ? saved : value);
        // A save plans the next start again, says so in the log and stores the
        // row; a refusal does none of these.
        const QString log = m_window->list().at(0)->logText();
        QCOMPARE(log.count(u'\n'), told.isEmpty() ? 2 : 1);
        expected.log = told.isEmpty() ? log : QString();
        QCOMPARE(QJsonDocument::fromJson(storedList())[0].toObject(), expected.toJson());
    }

    // Daily, Split and Once clicked in turn: after each, which of the 7 days,
    // the 4 split options and Daily can be set. Once beats Daily.
    void enablesControls()
    {
        open(u"Jazz"_s);
        const QStringList controls =
            week + u"shoutLang shoutLangLabel splitTitle keepPartial dailyButton"_s.split(u' ');
        QStringList enabled;
        for (const QString &button : {u"dailyButton"_s, u"splitButton"_s, u"onceButton"_s}) {
            ctl<QAbstractButton>(button)->click();
            enabled.append(shownBy(controls, "enabled").remove(u'|'));
        }
        QCOMPARE(enabled, QStringList({u"000000000001"_s, u"000000011111"_s, u"111111111110"_s}));
    }

    void runsListCommands_data()
    {
        // Lists of names are written "a|b|c".
        QTest::addColumn<QString>("command"); // its button; "cancel": Delete, then Cancel
        QTest::addColumn<QString>("rows");
        QTest::addColumn<int>("shown"); // its artist is edited before the command
        // The names in the list file, then the name|artist shown.
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("keys"); // given instead of the click
        const QString nr = u"New Recording %1"_s, abc = u"a|b|c"_s;
        const QString gap = nr.arg(1) + u'|' + nr.arg(3);
        QTest::newRow("new fills a gap")
            << u"new"_s << gap << 1 << gap + u" / "_s + nr.arg(2) + u"|Skyvane"_s << QString();
        QTest::newRow("new by its key")
            << u"new"_s << u"a"_s << 0 << u"a / "_s + nr.arg(1) + u"|Skyvane"_s << u"Ctrl+N"_s;
        QTest::newRow("clone") << u"clone"_s << u"a|a 2"_s << 0 << u"a|a 2 / a 3|Edited"_s
                               << QString();
        QTest::newRow("clone by its key")
            << u"clone"_s << u"a"_s << 0 << u"a / a 2|Edited"_s << u"Ctrl+D"_s;
        QTest::newRow("delete the last")
            << u"delete"_s << abc << 2 << u"a|b / b|Skyvane"_s << QString();
        QTest::newRow("delete the middle")
            << u"delete"_s << abc << 1 << u"a|c / c|Skyvane"_s << QString();
        QTest::newRow("delete the only")
            << u"delete"_s << u"a"_s << 0 << nr.arg(1) + u" / "_s + nr.arg(1) + u"|Skyvane"_s
            << QString();
        QTest::newRow("delete cancelled")
            << u"cancel"_s << abc << 0 << abc + u" / a|Edited"_s << QString();
        QTest::newRow("revert") << u"revert"_s << abc << 0 << abc + u" / a|Skyvane"_s << QString();
    }
    void runsListCommands()
    {
        QFETCH(QString, command);
        QFETCH(QString, rows);
        QFETCH(int, shown);
        QFETCH(QString, after);
        QFETCH(QString, keys);
        m_answer = command == u"cancel"_s ? AlertAnswer::Default : AlertAnswer::Alternate;
        open(rows);
        m_window->editor().show(shown);
        ctl<QLineEdit>(u"artistField"_s)->setText(u"Edited"_s);
        auto *button =
            ctl<QAbstractButton>(command.replace(u"cancel"_s, u"delete"_s) + u"Button"_s);
        if (keys.isEmpty()) {
            button->click();
        } else {
            QSignalSpy clicked(button, &QAbstractButton::clicked);
            for (QAction *action : m_window->actions()) {
                if (action->shortcut() == QKeySequence(keys))
                    action->trigger();
            }
            QVERIFY(clicked.wait(2000));
        }
        // New and Clone save the row shown first and store the list without the
        // row they add; Delete stores the list; nothing else saves.
        QStringList names;
        for (const QJsonValue &entry : QJsonDocument::fromJson(storedList()).array())
            names.append(entry[u"name"].toString());
        QCOMPARE(names.join(u'|') + u" / "_s + shownBy({u"nameField"_s, u"artistField"_s}), after);
        QCOMPARE(storedList().contains("Edited"), command == u"new"_s || command == u"clone"_s);
    }

    void takesDroppedStations_data()
    {
        // As text/x-moz-url has it, the URL then a line with its title; none: text only.
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("shown"); // drop action|name|playlist|station
        QTest::newRow("link with its title")
            << u"http://a.example/live stream\r\nRadio Ünïcode\r\n"_s
            << u"1|Radio Ünïcode|Radio Ünïcode|http://a.example/live%20stream"_s;
        QTest::newRow("plain URL list") << u"https://a.example/aac"_s
                                        << u"1|Jazz|My Skyvane Recordings|https://a.example/aac"_s;
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
        // A browser's text/x-moz-url: UTF-16 of this machine's byte order.
        if (link.contains(u'\n'))
            data.setData(u"text/x-moz-url"_s, QStringEncoder(QStringEncoder::Utf16).encode(link));
        QDragEnterEvent enter({}, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &enter);
        QDropEvent drop({}, enter.possibleActions(), &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &drop);
        const bool taken = enter.isAccepted() && drop.isAccepted();
        QCOMPARE(QString::number(taken ? drop.dropAction() : Qt::IgnoreAction) + u'|' +
                     shownBy({u"nameField"_s, u"playlistField"_s, u"stationField"_s}),
                 shown);
        // Only the controls change: nothing is saved until the user saves.
        QCOMPARE(m_window->list().at(0)->settings().url, storedUrl);
    }

    // A recording made "once" and captured from a real station: the controls
    // follow the recording shown, whichever it is, the log grows line by line
    // and shows anew when its front is trimmed, and closing ends the capture
    // and saves.
    void followsACapture()
    {
        open(u"Live|Another"_s, [](Settings &s) { s.log = QString(15990, u'x') + u'\n'; });
        ctl<QAbstractButton>(u"onceButton"_s)->click();
        ctl<QLineEdit>(u"stationField"_s)->setText(m_station.url(u"/live"));
        m_window->show();
        Recording *capturing = m_window->list().at(0);
        auto *log = ctl<QPlainTextEdit>(u"log"_s);
        const QStringList commands{u"nowButton"_s, u"deleteButton"_s, u"stopButton"_s};
        QSignalSpy asked(&m_station, &StationSimulator::requestReceived);
        ctl<QAbstractButton>(u"nowButton"_s)->click();
        QCOMPARE(shownBy(commands, "enabled"), u"0|0|1"_s);
        QVERIFY(ctl(u"progress"_s)->isVisible());
        // Started on a Wednesday: that day's button goes off with the setting.
        QCOMPARE(shownBy(week), u"1|1|0|1|1|1|1"_s);
        QVERIFY(asked.wait());
        QCOMPARE(log->toPlainText(), capturing->logText());
        QVERIFY(log->textCursor().atEnd());
        ctl<QAbstractButton>(u"stopButton"_s)->click();
        QVERIFY(log->toPlainText().contains(u"Stopped by user\n"_s));
        QTRY_VERIFY(!capturing->isCapturing());
        QCOMPARE(shownBy(commands, "enabled"), u"1|1|0"_s);
        QVERIFY(ctl(u"progress"_s)->isHidden());

        // Another row shown: nothing of the capture reaches its controls.
        m_window->editor().show(1);
        capturing->startCapture();
        QCOMPARE(shownBy(week), u"1|1|1|1|1|1|1"_s);
        QCOMPARE(log->toPlainText(), m_window->list().at(1)->logText());
        // Closing, answered "save" and "quit", ends the capture and saves the row shown.
        ctl<QLineEdit>(u"playlistField"_s)->setText(u"Saved on closing"_s);
        m_answer = AlertAnswer::Alternate;
        QVERIFY(m_window->close());
        QVERIFY(!capturing->isCapturing());
        QVERIFY(storedList().contains("Saved on closing"));
    }

    // Quitting as the session ends, the save is refused, and while its alert
    // shows a capture starts: it ends with the others, and its end is in the
    // list file.
    void closingEndsACaptureStartedDuringItsAlert()
    {
        open(u"Live|Other"_s, [this](Settings &s) { s.url = m_station.url(u"/live"); });
        ctl<QLineEdit>(u"nameField"_s)->setText(u"Other"_s);
        m_whileAsked = [this] { m_window->list().at(0)->startCapture(); };
        m_window->quitNow();
        m_whileAsked = {};
        QCOMPARE(m_told, QStringList{u"Name already in use"_s});
        QVERIFY(storedList().contains("Recording ended at "));
    }
};

SKYVANE_TEST_MAIN(TestWindow)
#include "tst_window.moc"
