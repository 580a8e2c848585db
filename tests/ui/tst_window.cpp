// The editor form of the window: start-up, what the controls show and save,
// the checks of a save, the enabling rules and the recording picker.
#include <limits>
#include <memory>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "model/recorderhost.h"
#include "model/recording.h"
#include "platform/textencodings.h"
#include "ui/recordingpicker.h"
#include "ui/skyvane.h"
#include "windowharness.h"

using namespace Qt::StringLiterals;

class TestWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Skyvane> start(const QList<StoredRecording> &rows = {})
    {
        if (!rows.isEmpty())
            Harness::writeList(rows);
        auto window = std::make_unique<Skyvane>();
        window->show();
        return window;
    }

    static void choose(RecordingPicker *picker, int index)
    {
        picker->showPopup();
        QAbstractItemView *list = picker->view();
        QVERIFY(list->isVisible());
        list->setCurrentIndex(list->model()->index(index, 0));
        QTest::keyClick(list, Qt::Key_Return);
        QCoreApplication::sendPostedEvents();
    }

private Q_SLOTS:
    void init() { Harness::removeListFiles(); }

    void startsOnNewRecordingWithoutAFile()
    {
        auto window = start();
        QCOMPARE(recorder, window.get());
        QCOMPARE(Harness::names(*window), QStringList{QStringLiteral("New Recording 1")});
        QCOMPARE(Controls(*window).picker->currentText(), QStringLiteral("New Recording 1"));
        QVERIFY(!window->current()->timer);
        QVERIFY(!QFile::exists(Harness::listPath()));
        QCOMPARE(window->windowTitle(), QStringLiteral("Skyvane"));
    }

    void startsOnTheFirstStoredRecording()
    {
        // Every day, three hours from now: armed, and far from starting.
        const QTime now = QTime::currentTime();
        const qint32 later = (now.hour() * 60 + now.minute() + 180) % (24 * 60);
        const qint32 utf8 = qint32(TextEncodings::utf8);
        auto window = start({Harness::row(QStringLiteral("Morning"), later, utf8, true),
                             Harness::row(QStringLiteral("Noon"), later, utf8, true),
                             Harness::row(QStringLiteral("Night"), later, utf8, true)});
        QCOMPARE(window->recList().size(), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(window->recList().at(i)->timer, "every stored recording is scheduled");
        QCOMPARE(window->curIndex(), 0);
        QCOMPARE(Controls(*window).picker->currentText(), QStringLiteral("Morning"));
        QVERIFY(Controls(*window).log->toPlainText().contains(QStringLiteral("Next recording")));
    }

    void weekdayButtonsRunMondayToSunday()
    {
        auto window = start();
        QCOMPARE(window->days().front()->objectName(), QStringLiteral("monButton"));
        QCOMPARE(window->days().back()->objectName(), QStringLiteral("sunButton"));
        QCOMPARE(window->days()[2]->objectName(), QStringLiteral("wedButton"));
    }

    void showsStartTimeAndDuration_data()
    {
        QTest::addColumn<int>("startTime");
        QTest::addColumn<QString>("hour");
        QTest::addColumn<QString>("minute");
        QTest::addColumn<QString>("half");
        QTest::newRow("midnight") << 0 << u"12"_s << u"00"_s << u"AM"_s;
        QTest::newRow("ten") << 600 << u"10"_s << u"00"_s << u"AM"_s;
        QTest::newRow("noon") << 720 << u"12"_s << u"00"_s << u"PM"_s;
        QTest::newRow("12:59 PM") << 779 << u"12"_s << u"59"_s << u"PM"_s;
        QTest::newRow("last minute") << 1439 << u"11"_s << u"59"_s << u"PM"_s;
    }
    void showsStartTimeAndDuration()
    {
        QFETCH(int, startTime);
        QFETCH(QString, hour);
        QFETCH(QString, minute);
        QFETCH(QString, half);
        auto window = start({Harness::row(QStringLiteral("Show"), startTime)});
        window->current()->duration = 90;
        window->revertPressed();
        const Controls c(*window);
        QCOMPARE(c.hourTime->currentText(), hour);
        QCOMPARE(c.minuteTime->currentText(), minute);
        QCOMPARE(c.ampm->currentText(), half);
        QCOMPARE(c.hourDuration->currentText(), QStringLiteral("1"));
        QCOMPARE(c.minuteDuration->currentText(), QStringLiteral("30"));
    }

    void savesStartTimeAndDuration_data()
    {
        QTest::addColumn<QString>("hour");
        QTest::addColumn<QString>("minute");
        QTest::addColumn<QString>("half");
        QTest::addColumn<QString>("durationHours");
        QTest::addColumn<QString>("durationMinutes");
        QTest::addColumn<int>("startTime");
        QTest::addColumn<int>("duration");
        QTest::newRow("12:05 AM") << u"12"_s << u"5"_s << u"AM"_s << u"1"_s << u"0"_s << 5 << 60;
        QTest::newRow("12:00 PM") << u"12"_s << u"00"_s << u"PM"_s << u"1"_s << u"0"_s << 720 << 60;
        QTest::newRow("lower-case pm")
            << u"7"_s << u"30"_s << u"pm"_s << u"1"_s << u"0"_s << 1170 << 60;
        QTest::newRow("not p is AM")
            << u"7"_s << u"30"_s << u"xm"_s << u"1"_s << u"0"_s << 450 << 60;
        QTest::newRow("empty is AM")
            << u"7"_s << u"30"_s << QString() << u"1"_s << u"0"_s << 450 << 60;
        QTest::newRow("hour 13 PM unchecked")
            << u"13"_s << u"10"_s << u"PM"_s << u"1"_s << u"0"_s << 1510 << 60;
        QTest::newRow("150 minutes kept")
            << u"10"_s << u"0"_s << u"AM"_s << u"0"_s << u"150"_s << 600 << 150;
        QTest::newRow("leading number")
            << u" 9 o'clock"_s << u"15 min"_s << u"AM"_s << u"2h"_s << u"x"_s << 555 << 120;
        QTest::newRow("not a number is 0")
            << u"soon"_s << u"-"_s << u"AM"_s << QString() << u"ten"_s << 0 << 0;
        QTest::newRow("huge saturates") << u"99999999999"_s << u"0"_s << u"AM"_s << u"0"_s << u"0"_s
                                        << std::numeric_limits<qint32>::max() << 0;
    }
    void savesStartTimeAndDuration()
    {
        QFETCH(QString, hour);
        QFETCH(QString, minute);
        QFETCH(QString, half);
        QFETCH(QString, durationHours);
        QFETCH(QString, durationMinutes);
        QFETCH(int, startTime);
        QFETCH(int, duration);
        AlertRecorder alerts;
        auto window = start({Harness::row(QStringLiteral("Show"))});
        Controls c(*window);
        c.setTime(hour, minute, half);
        c.setDuration(durationHours, durationMinutes);
        QVERIFY(window->saveRecord());
        QCOMPARE(window->current()->startTime, startTime);
        QCOMPARE(window->current()->duration, duration);
        QCOMPARE(Harness::readList().value(0).startTime, startTime);
        QVERIFY(alerts.alerts.isEmpty());
    }

    void cleansTheName_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::newRow("marker and spaces") << u"  Jazz *  "_s << u"Jazz"_s;
        QTest::newRow("tabs") << u"\tJazz\t"_s << u"Jazz"_s;
        QTest::newRow("several stars") << u"Rock**"_s << u"Rock"_s;
        QTest::newRow("only a star") << u" * "_s << QString();
        QTest::newRow("star inside stays") << u"Jazz * Blues"_s << u"Jazz * Blues"_s;
    }
    void cleansTheName()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        AlertRecorder alerts;
        auto window = start({Harness::row(QStringLiteral("Show"))});
        Controls c(*window);
        c.picker->setEditText(typed);
        QVERIFY(window->saveRecord());
        QCOMPARE(window->current()->name, saved);
        QCOMPARE(c.picker->currentText(), saved);
        QCOMPARE(Harness::readList().value(0).name, saved);
    }

    void refusesWithOneAlertInOrder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("station");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        const QString inUse = QStringLiteral("Name already in use");
        const QString missing = QStringLiteral("Missing Station URL");
        const QString invalid = QStringLiteral("Invalid URL");
        const QString missingText = QStringLiteral("Please fill in the station field");
        const QString invalidText =
            QStringLiteral("Station URL is invalid. Perhaps you should start it with http://?");
        QTest::newRow("taken name before empty station")
            << u"rock"_s << QString() << inUse
            << u"You already have a recording named rock. Please edit your entry."_s;
        QTest::newRow("spaces only") << u"Jazz"_s << u"   "_s << missing << missingText;
        QTest::newRow("empty before invalid") << u"Jazz"_s << QString() << missing << missingText;
        QTest::newRow("embedded space")
            << u"Jazz"_s << u"http://radio.example/a b"_s << invalid << invalidText;
        QTest::newRow("stray percent")
            << u"Jazz"_s << u"http://radio.example/%zz"_s << invalid << invalidText;
        QTest::newRow("bad port") << u"Jazz"_s << u"http://radio.example:99999/"_s << invalid
                                  << invalidText;
    }
    void refusesWithOneAlertInOrder()
    {
        QFETCH(QString, name);
        QFETCH(QString, station);
        QFETCH(QString, title);
        QFETCH(QString, text);
        AlertRecorder alerts;
        auto window =
            start({Harness::row(QStringLiteral("Jazz")), Harness::row(QStringLiteral("Rock"))});
        const QByteArray stored = [] {
            QFile file(Harness::listPath());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        Controls c(*window);
        c.picker->setEditText(name);
        c.station->setText(station);
        c.playlist->setText(QStringLiteral("Edited"));
        QVERIFY(!window->saveRecord());
        QCOMPARE(alerts.titles(), QStringList{title});
        QCOMPARE(alerts.alerts.first().text, text);
        QCOMPARE(window->current()->name, QStringLiteral("Jazz"));
        QCOMPARE(window->current()->playList, QStringLiteral("My Skyvane Recordings"));
        QFile file(Harness::listPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), stored);
        // The controls keep what the user typed.
        QCOMPARE(c.station->text(), station);
        QCOMPARE(c.playlist->text(), QStringLiteral("Edited"));
    }

    void acceptsUrlReferences_data()
    {
        QTest::addColumn<QString>("station");
        QTest::newRow("http") << u"http://radio.example:8000/live"_s;
        QTest::newRow("relative") << u"live/stream"_s;
        QTest::newRow("only the scheme") << u"http://"_s;
        QTest::newRow("padded") << u"  http://radio.example/live\t"_s;
        QTest::newRow("escaped space") << u"http://radio.example/a%20b"_s;
    }
    void acceptsUrlReferences()
    {
        QFETCH(QString, station);
        AlertRecorder alerts;
        auto window = start({Harness::row(QStringLiteral("Jazz"))});
        Controls(*window).station->setText(station);
        QVERIFY(window->saveRecord());
        QVERIFY(alerts.alerts.isEmpty());
        QCOMPARE(window->current()->url, station.trimmed());
    }

    void renamesAcrossLetterCase()
    {
        AlertRecorder alerts;
        auto window =
            start({Harness::row(QStringLiteral("Jazz")), Harness::row(QStringLiteral("Rock"))});
        Controls c(*window);
        c.picker->setEditText(QStringLiteral("JAZZ"));
        QVERIFY(window->saveRecord());
        QCOMPARE(window->current()->name, QStringLiteral("JAZZ"));
        c.picker->setEditText(QStringLiteral("ROCK"));
        QVERIFY(!window->saveRecord());
        QCOMPARE(alerts.titles(), QStringList{QStringLiteral("Name already in use")});
        QCOMPARE(window->current()->name, QStringLiteral("JAZZ"));
    }

    void savesEveryControl()
    {
        AlertRecorder alerts;
        auto window = start({Harness::row(QStringLiteral("Jazz"))});
        Controls c(*window);
        c.station->setText(QStringLiteral("http://radio.example/jazz"));
        c.playlist->setText(QStringLiteral(" Evening "));
        c.artist->setText(QStringLiteral("Various"));
        c.genre->setEditText(QStringLiteral("Jazz"));
        c.recCount->setEditText(QStringLiteral("250"));
        c.split->setChecked(true);
        c.keepPartial->setChecked(true);
        c.reconnect->setChecked(true);
        window->days()[0]->setChecked(true);
        window->days()[4]->setChecked(true);
        QVERIFY(window->saveRecord());
        const Recording *r = window->current();
        QCOMPARE(r->url, QStringLiteral("http://radio.example/jazz"));
        QCOMPARE(r->playList, QStringLiteral("Evening"));
        QCOMPARE(r->customArtist, QStringLiteral("Various"));
        QCOMPARE(r->customGenre, QStringLiteral("Jazz"));
        QCOMPARE(r->recCount, 250);
        QVERIFY(r->splitSongs && r->keepPartial && r->reconnect);
        const std::array<bool, 7> days = {true, false, false, false, true, false, false};
        QCOMPARE(r->days, days);
        QVERIFY(r->timer);
    }

    void encodingListAndChoice()
    {
        AlertRecorder alerts;
        auto window = start({Harness::row(QStringLiteral("Known")),
                             Harness::row(QStringLiteral("Unknown"), 600, 424242)});
        Controls c(*window);
        QVERIFY(!window->langList().isEmpty());
        QCOMPARE(c.shoutLang->count(), window->langList().size());
        for (int i = 0; i < c.shoutLang->count(); ++i)
            QVERIFY(!c.shoutLang->itemText(i).isEmpty());
        QCOMPARE(window->langList().value(c.shoutLang->currentIndex()), TextEncodings::utf8);

        const int last = c.shoutLang->count() - 1;
        c.shoutLang->setCurrentIndex(last);
        QVERIFY(window->saveRecord());
        QCOMPARE(quint32(window->current()->shoutLang), window->langList().at(last));

        // A stored encoding that is not offered shows the first, and saves it.
        window->loadRecord(1);
        QCOMPARE(c.shoutLang->currentIndex(), 0);
        QVERIFY(window->saveRecord());
        QCOMPARE(quint32(window->current()->shoutLang), window->langList().first());
        c.shoutLang->setCurrentIndex(-1);
        QVERIFY(window->saveRecord());
        QCOMPARE(quint32(window->current()->shoutLang), window->langList().first());
    }

    void enablesControls_data()
    {
        QTest::addColumn<bool>("once");
        QTest::addColumn<bool>("daily");
        QTest::addColumn<bool>("split");
        QTest::addColumn<bool>("dailyEnabled");
        QTest::addColumn<bool>("daysEnabled");
        QTest::newRow("all off") << false << false << false << true << true;
        QTest::newRow("daily") << false << true << false << true << false;
        QTest::newRow("once") << true << false << true << false << true;
        QTest::newRow("once beats daily") << true << true << true << false << true;
    }
    void enablesControls()
    {
        QFETCH(bool, once);
        QFETCH(bool, daily);
        QFETCH(bool, split);
        QFETCH(bool, dailyEnabled);
        QFETCH(bool, daysEnabled);
        auto window = start({Harness::row(QStringLiteral("Jazz"))});
        Controls c(*window);
        // Clicked like a user, before anything is saved.
        if (daily)
            c.daily->click();
        if (once)
            c.once->click();
        if (split)
            c.split->click();
        QCOMPARE(c.daily->isEnabled(), dailyEnabled);
        for (QAbstractButton *day : window->days())
            QCOMPARE(day->isEnabled(), daysEnabled);
        QCOMPARE(c.shoutLang->isEnabled(), split);
        QCOMPARE(c.splitTitle->isEnabled(), split);
        QCOMPARE(c.keepPartial->isEnabled(), split);
        // No capture runs.
        QVERIFY(c.nowButton->isEnabled());
        QVERIFY(c.deleteButton->isEnabled());
        QVERIFY(!c.stopButton->isEnabled());
        QVERIFY(c.progress->isHidden());
    }

    void pickerSortsAndChooses()
    {
        AlertRecorder alerts;
        auto window = start({Harness::row(QStringLiteral("b")), Harness::row(QStringLiteral("C")),
                             Harness::row(QStringLiteral("a"))});
        Controls c(*window);
        window->loadRecord(2);
        c.picker->showPopup();
        QCOMPARE(c.picker->count(), 3);
        QCOMPARE(c.picker->itemText(0), QStringLiteral("a"));
        QCOMPARE(c.picker->itemText(1), QStringLiteral("b"));
        QCOMPARE(c.picker->itemText(2), QStringLiteral("C"));
        QCOMPARE(window->curIndex(), 0);
        QCOMPARE(window->current()->name, QStringLiteral("a"));
        c.picker->hidePopup();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(c.picker->count(), 0);
        QCOMPARE(c.picker->currentText(), QStringLiteral("a"));

        // Leaving "a" saves what was typed into it, under the name typed.
        c.picker->setEditText(QStringLiteral("alpha"));
        c.playlist->setText(QStringLiteral("Mine"));
        choose(c.picker, 2);
        QVERIFY(alerts.alerts.isEmpty());
        QCOMPARE(window->current()->name, QStringLiteral("C"));
        QCOMPARE(c.picker->currentText(), QStringLiteral("C"));
        QCOMPARE(window->recList().at(0)->name, QStringLiteral("alpha"));
        QCOMPARE(window->recList().at(0)->playList, QStringLiteral("Mine"));
        QCOMPARE(Harness::readList().value(0).name, QStringLiteral("alpha"));
    }

    void pickerKeepsTheOldTextWhenTheSaveIsRefused()
    {
        AlertRecorder alerts;
        auto window = start({Harness::row(QStringLiteral("a")), Harness::row(QStringLiteral("b"))});
        Controls c(*window);
        c.picker->setEditText(QStringLiteral("Renamed"));
        c.station->setText(QString());
        choose(c.picker, 1);
        QCOMPARE(alerts.titles(), QStringList{QStringLiteral("Missing Station URL")});
        QCOMPARE(window->curIndex(), 0);
        QCOMPARE(window->current()->name, QStringLiteral("a"));
        QCOMPARE(c.picker->currentText(), QStringLiteral("Renamed"));
        QCOMPARE(c.station->text(), QString());
    }

    void pickingTheShownRecordingDoesNothing()
    {
        AlertRecorder alerts;
        auto window = start({Harness::row(QStringLiteral("a")), Harness::row(QStringLiteral("b"))});
        Controls c(*window);
        c.station->setText(QString());
        choose(c.picker, 0);
        QVERIFY(alerts.alerts.isEmpty());
        QCOMPARE(window->curIndex(), 0);
        QCOMPARE(c.picker->currentText(), QStringLiteral("a"));
    }

    void arrowKeysOpenThePicker()
    {
        auto window = start({Harness::row(QStringLiteral("a")), Harness::row(QStringLiteral("b"))});
        Controls c(*window);
        c.picker->setFocus();
        QTest::keyClick(c.picker, Qt::Key_Down);
        QVERIFY(c.picker->view()->isVisible());
        QCOMPARE(c.picker->currentText(), QStringLiteral("a"));
        c.picker->hidePopup();
    }

    void reportsAnUnreadableListFile()
    {
        AlertRecorder alerts;
        QFile file(Harness::listPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{ not a list");
        file.close();
        auto window = start();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(alerts.titles(),
                 QStringList{QStringLiteral("The recording list could not be read")});
        QVERIFY(alerts.alerts.first().text.contains(QStringLiteral(".corrupt")));
        QCOMPARE(Harness::names(*window), QStringList{QStringLiteral("New Recording 1")});
    }

    void reportsAFailedStoreOnce()
    {
        AlertRecorder alerts;
        auto window = start();
        // A folder where the list file belongs cannot be replaced by a file.
        QVERIFY(QDir().mkpath(Harness::listPath()));
        QVERIFY(window->saveRecord());
        QVERIFY(window->saveRecord());
        QVERIFY2(alerts.alerts.isEmpty(), "never shown from inside the store");
        QCoreApplication::sendPostedEvents();
        QCOMPARE(alerts.titles(),
                 QStringList{QStringLiteral("The recording list could not be saved")});
        QVERIFY(QDir(Harness::listPath()).removeRecursively());
        QVERIFY(window->saveRecord());
        QCOMPARE(Harness::readList().size(), 1);
    }

    void findsTheHelpPage()
    {
        const QString path = Skyvane::helpPagePath();
        QVERIFY(path.endsWith(QStringLiteral("Skyvane Help/Skyvane.html")));
        QFile page(path);
        QVERIFY(page.open(QIODevice::ReadOnly));
        QVERIFY(page.readAll().contains("addTune.lua"));
    }

    void numericItemsHoldNumbers()
    {
        auto window = start();
        const Controls c(*window);
        QCOMPARE(c.hourTime->count(), 12);
        QCOMPARE(c.hourTime->itemData(0).toDouble(), 1.0);
        QCOMPARE(c.minuteTime->itemText(1), QStringLiteral("05"));
        QCOMPARE(c.minuteTime->itemData(1).toDouble(), 5.0);
        QCOMPARE(c.hourDuration->itemData(24).toDouble(), 24.0);
        QVERIFY(c.recCount->findData(1000.0) >= 0);
        QCOMPARE(c.ampm->count(), 2);
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
