// The editor form of the window: start-up, what the controls show and save,
// the checks of a save, the enabling rules and the recording picker.
#include <limits>

#include "windowharness.h"

#include "platform/textencodings.h"

using namespace Qt::StringLiterals;
using Harness::start;

class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { Harness::removeListFiles(); }

    void startsOnANewRecording_data()
    {
        QTest::addColumn<QByteArray>("listFile"); // none: there is no file
        QTest::addColumn<QStringList>("alerts");
        QTest::newRow("no list file") << QByteArray() << QStringList();
        QTest::newRow("unreadable list file")
            << QByteArray("{ not a list") << QStringList{u"The recording list could not be read"_s};
    }
    void startsOnANewRecording()
    {
        QFETCH(QByteArray, listFile);
        QFETCH(QStringList, alerts);
        AlertRecorder recorded;
        if (!listFile.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(RecordingList::prefPath()).path()));
            QFile file(RecordingList::prefPath());
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(listFile) == listFile.size());
        }
        auto window = start();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(recorded.titles(), alerts);
        if (!alerts.isEmpty())
            QVERIFY(recorded.alerts.first().text.contains(u".corrupt"_s));
        QCOMPARE(recorder, window.get());
        QCOMPARE(Harness::names(*window), QStringList{u"New Recording 1"_s});
        QCOMPARE(Controls(*window).picker->currentText(), u"New Recording 1"_s);
        QVERIFY(!window->current()->timer);
        QVERIFY(!QFile::exists(RecordingList::prefPath()));
        // Monday first: the days are saved and cleared by their index.
        QCOMPARE(window->days().front()->objectName(), u"monButton"_s);
        QCOMPARE(window->days().back()->objectName(), u"sunButton"_s);
    }

    void startsOnTheFirstStoredRecording()
    {
        // Every day, three hours from now: armed, and far from starting.
        const QTime now = QTime::currentTime();
        auto window = start({u"Morning"_s, u"Noon"_s, u"Night"_s}, [&now](Recording &row) {
            row.startTime = (now.hour() * 60 + now.minute() + 180) % (24 * 60);
            row.days.fill(true);
        });
        QCOMPARE(window->recList().size(), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(window->recList().at(i)->timer, "every stored recording is scheduled");
        QCOMPARE(window->curIndex(), 0);
        QCOMPARE(Controls(*window).picker->currentText(), u"Morning"_s);
        QVERIFY(Controls(*window).log->toPlainText().contains(u"Next recording"_s));
    }

    void savesAndShowsTimeAndDuration_data()
    {
        // Typed: hour|minute|AM or PM|duration hours|duration minutes.
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("startTime");
        QTest::addColumn<int>("duration");
        QTest::addColumn<QString>("shown");
        QTest::newRow("midnight") << u"12|00|AM|1|30"_s << 0 << 90 << u"12:00 AM 1:30"_s;
        QTest::newRow("12:05 AM") << u"12|5|AM|1|0"_s << 5 << 60 << u"12:05 AM 1:00"_s;
        QTest::newRow("noon") << u"12|00|PM|1|0"_s << 720 << 60 << u"12:00 PM 1:00"_s;
        QTest::newRow("last minute") << u"11|59|PM|1|0"_s << 1439 << 60 << u"11:59 PM 1:00"_s;
        QTest::newRow("lower-case pm") << u"7|30|pm|1|0"_s << 1170 << 60 << u"7:30 PM 1:00"_s;
        QTest::newRow("not p is AM") << u"7|30|xm|1|0"_s << 450 << 60 << u"7:30 AM 1:00"_s;
        QTest::newRow("empty is AM") << u"7|30||1|0"_s << 450 << 60 << u"7:30 AM 1:00"_s;
        QTest::newRow("150 minutes kept") << u"10|0|AM|0|150"_s << 600 << 150 << u"10:00 AM 2:30"_s;
        QTest::newRow("negative minutes") << u"1|0|AM|1|-5"_s << 60 << 55 << u"1:00 AM 0:55"_s;
        QTest::newRow("numbers read from the start")
            << u" 9 o'clock|15 min|AM|2h|x"_s << 555 << 120 << u"9:15 AM 2:00"_s;
        QTest::newRow("not a number is 0") << u"soon|-|AM||ten"_s << 0 << 0 << u"12:00 AM 0:00"_s;
        QTest::newRow("huge saturates")
            << u"99999999999|0|AM|0|0"_s << std::numeric_limits<qint32>::max() << 0
            << u"35791382:07 PM 0:00"_s;
    }
    void savesAndShowsTimeAndDuration()
    {
        QFETCH(QString, typed);
        QFETCH(int, startTime);
        QFETCH(int, duration);
        QFETCH(QString, shown);
        AlertRecorder alerts;
        auto window = start({u"Show"_s});
        const Controls c(*window);
        const QList<QComboBox *> boxes{c.hourTime, c.minuteTime, c.ampm, c.hourDuration,
                                       c.minuteDuration};
        for (qsizetype i = 0; i < boxes.size(); ++i)
            boxes[i]->setEditText(typed.split(u'|').at(i));
        QVERIFY(window->saveRecord());
        QVERIFY(alerts.alerts.isEmpty());
        QCOMPARE(window->current()->startTime, startTime);
        QCOMPARE(window->current()->duration, duration);
        QCOMPARE(Harness::stored(0, "startTime").toInt(), startTime);
        c.revertButton->click();
        QCOMPARE(u"%1:%2 %3 %4:%5"_s.arg(c.hourTime->currentText(), c.minuteTime->currentText(),
                                         c.ampm->currentText(), c.hourDuration->currentText(),
                                         c.minuteDuration->currentText()),
                 shown);
    }

    void checksTheNameAndStation_data()
    {
        // Saved under `result`, or refused with one alert, the first check's.
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("station");
        QTest::addColumn<QString>("alert");
        QTest::addColumn<QString>("result"); // the name saved, or the alert's text
        const QString missing = u"Missing Station URL"_s, invalid = u"Invalid URL"_s;
        const QString missingText = u"Please fill in the station field"_s;
        const QString invalidText =
            u"Station URL is invalid. Perhaps you should start it with http://?"_s;
        QTest::newRow("marker and spaces, port")
            << u"  Jazz *  "_s << u"http://radio.example:8000/live"_s << QString() << u"Jazz"_s;
        QTest::newRow("tabs, relative")
            << u"\tJazz\t"_s << u"live/stream"_s << QString() << u"Jazz"_s;
        QTest::newRow("several stars, only the scheme")
            << u"Blues**"_s << u"http://"_s << QString() << u"Blues"_s;
        QTest::newRow("only a star, padded")
            << u" * "_s << u"  http://radio.example/live\t"_s << QString() << QString();
        QTest::newRow("star inside stays, escaped space")
            << u"Jazz * Blues"_s << u"http://radio.example/a%20b"_s << QString()
            << u"Jazz * Blues"_s;
        QTest::newRow("own name in other case")
            << u"JAZZ"_s << Harness::storedUrl << QString() << u"JAZZ"_s;
        QTest::newRow("taken name, other case, before empty station")
            << u"rock"_s << QString() << u"Name already in use"_s
            << u"You already have a recording named rock. Please edit your entry."_s;
        QTest::newRow("spaces only") << u"Jazz"_s << u"   "_s << missing << missingText;
        QTest::newRow("empty before invalid") << u"Jazz"_s << QString() << missing << missingText;
        QTest::newRow("embedded space")
            << u"Jazz"_s << u"http://radio.example/a b"_s << invalid << invalidText;
        QTest::newRow("stray percent")
            << u"Jazz"_s << u"http://radio.example/%zz"_s << invalid << invalidText;
    }
    void checksTheNameAndStation()
    {
        QFETCH(QString, name);
        QFETCH(QString, station);
        QFETCH(QString, alert);
        QFETCH(QString, result);
        AlertRecorder alerts;
        auto window = start({u"Jazz"_s, u"Rock"_s});
        const QByteArray stored = Harness::storedBytes();
        const Controls c(*window);
        c.picker->setEditText(name);
        c.station->setText(station);
        c.playlist->setText(u"Edited"_s);
        QCOMPARE(window->saveRecord(), alert.isEmpty());
        if (alert.isEmpty()) {
            QVERIFY(alerts.alerts.isEmpty());
            QCOMPARE(window->current()->name, result);
            QCOMPARE(c.picker->currentText(), result);
            QCOMPARE(window->current()->url, station.trimmed());
            QCOMPARE(Harness::stored(0, "name").toString(), result);
            QCOMPARE(Harness::stored(0, "url").toString(), station.trimmed());
            return;
        }
        QCOMPARE(alerts.titles(), QStringList{alert});
        QCOMPARE(alerts.alerts.first().text, result);
        QCOMPARE(window->current()->name, u"Jazz"_s);
        QCOMPARE(window->current()->playList, u"My Skyvane Recordings"_s);
        QCOMPARE(Harness::storedBytes(), stored);
        // The controls keep what the user typed.
        QCOMPARE(c.station->text(), station);
        QCOMPARE(c.playlist->text(), u"Edited"_s);
    }

    void savesEveryControlAndRevertShowsIt()
    {
        AlertRecorder alerts;
        auto window = start({u"Jazz"_s});
        const Controls c(*window);
        c.station->setText(u"http://radio.example/jazz"_s);
        c.playlist->setText(u" Evening "_s);
        c.artist->setText(u"Various"_s);
        c.get<QComboBox>("genreChoice")->setEditText(u"Jazz"_s);
        c.get<QComboBox>("recCount")->setEditText(u"250"_s);
        for (const char *name : {"splitButton", "keepPartial", "reconnectButton"})
            c.get<QCheckBox>(name)->setChecked(true);
        window->days()[0]->setChecked(true);
        window->days()[4]->setChecked(true);
        QVERIFY(window->saveRecord());
        const Recording *r = window->current();
        QCOMPARE(r->url, u"http://radio.example/jazz"_s);
        QCOMPARE(r->playList, u"Evening"_s);
        QCOMPARE(r->customArtist, u"Various"_s);
        QCOMPARE(r->customGenre, u"Jazz"_s);
        QCOMPARE(r->recCount, 250);
        QVERIFY(r->splitSongs && r->keepPartial && r->reconnect);
        QCOMPARE(r->days, (std::array<bool, 7>{true, false, false, false, true, false, false}));
        QVERIFY(r->timer);

        c.picker->setEditText(u"Changed"_s);
        c.station->setText(u"http://other.example/"_s);
        window->days()[3]->setChecked(true);
        c.revertButton->click();
        QCOMPARE(c.picker->currentText(), u"Jazz"_s);
        QCOMPARE(c.station->text(), u"http://radio.example/jazz"_s);
        QCOMPARE(c.playlist->text(), u"Evening"_s);
        QVERIFY(!window->days()[3]->isChecked());
        QVERIFY(window->days()[4]->isChecked());
        QVERIFY(alerts.alerts.isEmpty());
    }

    void encodingListAndChoice()
    {
        AlertRecorder alerts;
        auto window = start({u"Known"_s, u"Unknown"_s}, [](Recording &row) {
            if (row.name == u"Unknown"_s)
                row.shoutLang = 424242;
        });
        const Controls c(*window);
        QVERIFY(!window->langList().isEmpty());
        QCOMPARE(c.shoutLang->count(), window->langList().size());
        QCOMPARE(window->langList().value(c.shoutLang->currentIndex()), TextEncodings::utf8);

        const int last = c.shoutLang->count() - 1;
        c.shoutLang->setCurrentIndex(last);
        QVERIFY(window->saveRecord());
        QCOMPARE(quint32(window->current()->shoutLang), window->langList().at(last));

        // A stored encoding that is not offered shows the first, and saves it;
        // so does no choice at all.
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
        QTest::addColumn<QStringList>("clicked");
        QTest::addColumn<bool>("dailyEnabled");
        QTest::addColumn<bool>("daysEnabled");
        QTest::newRow("all off") << QStringList() << true << true;
        QTest::newRow("daily") << QStringList{u"daily"_s} << true << false;
        QTest::newRow("once, split") << QStringList{u"once"_s, u"split"_s} << false << true;
        QTest::newRow("once beats daily")
            << QStringList{u"daily"_s, u"once"_s, u"split"_s} << false << true;
    }
    void enablesControls()
    {
        QFETCH(QStringList, clicked);
        QFETCH(bool, dailyEnabled);
        QFETCH(bool, daysEnabled);
        auto window = start({u"Jazz"_s});
        const Controls c(*window);
        // Clicked like a user, before anything is saved.
        for (const QString &button : clicked)
            c.get<QCheckBox>(qPrintable(button + u"Button"_s))->click();
        QCOMPARE(c.daily->isEnabled(), dailyEnabled);
        for (QAbstractButton *day : window->days())
            QCOMPARE(day->isEnabled(), daysEnabled);
        for (const char *name : {"shoutLang", "splitTitle", "keepPartial"})
            QCOMPARE(c.get<QWidget>(name)->isEnabled(), clicked.contains(u"split"_s));
    }

    void pickerSortsAndChooses()
    {
        AlertRecorder alerts;
        auto window = start({u"b"_s, u"C"_s, u"a"_s});
        const Controls c(*window);
        window->loadRecord(2);
        // The arrow keys open the list, sorted with the letter case ignored.
        QTest::keyClick(c.picker, Qt::Key_Down);
        QVERIFY(c.picker->view()->isVisible());
        QCOMPARE(c.picker->count(), 3);
        QCOMPARE(c.picker->itemText(0), u"a"_s);
        QCOMPARE(c.picker->itemText(1), u"b"_s);
        QCOMPARE(c.picker->itemText(2), u"C"_s);
        QCOMPARE(window->curIndex(), 0);
        QCOMPARE(window->current()->name, u"a"_s);
        c.picker->hidePopup();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(c.picker->count(), 0);
        QCOMPARE(c.picker->currentText(), u"a"_s);

        // Choosing the recording shown saves nothing, so refuses nothing.
        c.station->setText(QString());
        Harness::choose(c.picker, 0);
        QVERIFY(alerts.alerts.isEmpty());
        QCOMPARE(window->curIndex(), 0);
        QCOMPARE(c.picker->currentText(), u"a"_s);

        // Leaving a recording saves it first: when that is refused, the picker
        // stays on it and gets back the text typed, before the save cleaned it.
        c.picker->setEditText(u"alpha *"_s);
        Harness::choose(c.picker, 2);
        QCOMPARE(alerts.titles(), QStringList{u"Missing Station URL"_s});
        QCOMPARE(window->curIndex(), 0);
        QCOMPARE(window->current()->name, u"a"_s);
        QCOMPARE(c.picker->currentText(), u"alpha *"_s);
        QCOMPARE(c.station->text(), QString());

        // Saved, it goes under the name typed.
        c.station->setText(Harness::storedUrl);
        c.playlist->setText(u"Mine"_s);
        Harness::choose(c.picker, 2);
        QCOMPARE(alerts.alerts.size(), 1);
        QCOMPARE(window->current()->name, u"C"_s);
        QCOMPARE(c.picker->currentText(), u"C"_s);
        QCOMPARE(window->recList().at(0)->name, u"alpha"_s);
        QCOMPARE(window->recList().at(0)->playList, u"Mine"_s);
        QCOMPARE(Harness::stored(0, "name").toString(), u"alpha"_s);
    }

    void reportsAFailedStoreOnce()
    {
        AlertRecorder alerts;
        auto window = start();
        // A folder where the list file belongs cannot be replaced by a file.
        QVERIFY(QDir().mkpath(RecordingList::prefPath()));
        QVERIFY(window->saveRecord());
        QVERIFY(window->saveRecord());
        QVERIFY2(alerts.alerts.isEmpty(), "never shown from inside the store");
        QCoreApplication::sendPostedEvents();
        QCOMPARE(alerts.titles(), QStringList{u"The recording list could not be saved"_s});
        QVERIFY(QDir(RecordingList::prefPath()).removeRecursively());
        QVERIFY(window->saveRecord());
        QCOMPARE(Harness::storedNames(), QStringList{u"New Recording 1"_s});
    }

    void findsTheHelpPage()
    {
        QFile page(Skyvane::helpPagePath());
        QVERIFY(page.fileName().endsWith(u"Skyvane Help/Skyvane.html"_s));
        QVERIFY(page.open(QIODevice::ReadOnly));
        QVERIFY(page.readAll().contains("addTune.lua"));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
