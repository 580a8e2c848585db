// The window's list commands, station links dropped onto it, and the window
// while a recording captures a real stream from a station on 127.0.0.1.
#include "windowharness.h"

#include "stationsimulator.h"

using namespace Qt::StringLiterals;
using Harness::start;

namespace {

// A browser's text/x-moz-url: UTF-16, little-endian.
QByteArray mozUrl(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xff));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

} // namespace

class TestWindowCommands : public QObject
{
    Q_OBJECT

private:
    StationSimulator m_station;

    QString liveUrl() const { return m_station.url(u"/live"); }

    // A window on rows of the station, capturing the first: Now pressed and
    // audio arrived. nullptr when it did not.
    std::unique_ptr<Skyvane> capturing(const QStringList &names)
    {
        auto window = start(names, [this](Recording &row) { row.url = liveUrl(); });
        Controls(*window).nowButton->click();
        if (!window->current()->inProgress ||
            !QTest::qWaitFor([&] { return window->current()->dataSize > 0; }))
            return nullptr;
        return window;
    }

private Q_SLOTS:
    void initTestCase()
    {
        StationSimulator::Route live = StationSimulator::Route::stream();
        live.bytesPerSecond = 200000;
        m_station.setRoute("/live", live);
        QVERIFY(m_station.start());
    }
    void init() { Harness::removeListFiles(); }

    void newAndCloneNameTheRowTheyAdd_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<int>("source");
        QTest::addColumn<QString>("created");
        const QString newButton = u"newButton"_s, cloneButton = u"cloneButton"_s;
        QTest::newRow("new: gap") << newButton
                                  << QStringList{u"New Recording 1"_s, u"New Recording 3"_s} << 0
                                  << u"New Recording 2"_s;
        QTest::newRow("new: none yet")
            << newButton << QStringList{u"Jazz"_s} << 0 << u"New Recording 1"_s;
        QTest::newRow("clone: Jazz 2 taken")
            << cloneButton << QStringList{u"Jazz"_s, u"Jazz 2"_s} << 0 << u"Jazz 3"_s;
        QTest::newRow("clone of a clone")
            << cloneButton << QStringList{u"Jazz"_s, u"Jazz 2"_s} << 1 << u"Jazz 2 2"_s;
    }
    void newAndCloneNameTheRowTheyAdd()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, existing);
        QFETCH(int, source);
        QFETCH(QString, created);
        const bool clone = button == u"cloneButton"_s;
        AlertRecorder alerts;
        auto window = start(existing);
        window->loadRecord(source);
        const Controls c(*window);
        c.artist->setText(u"Saved first"_s);
        window->current()->log(u"old line\n"_s);
        c.get<QPushButton>(qPrintable(button))->click();
        QVERIFY(alerts.alerts.isEmpty());
        QCOMPARE(Harness::names(*window), existing + QStringList{created});
        QCOMPARE(window->curIndex(), existing.size());
        QCOMPARE(c.picker->currentText(), created);
        const Recording *added = window->current();
        QCOMPARE(added->customArtist, clone ? u"Saved first"_s : u"Skyvane"_s);
        QCOMPARE(added->url, clone ? Harness::storedUrl : u"http://"_s);
        QVERIFY(added->logText.isEmpty());
        QVERIFY2(!added->timer, "an added recording waits for its first save");
        QCOMPARE(window->recList().at(source)->customArtist, u"Saved first"_s);
    }

    void commandsAfterARefusedSave()
    {
        AlertRecorder alerts;
        auto window = start({u"Jazz"_s, u"Rock"_s});
        const Controls c(*window);
        c.picker->setEditText(u"ROCK"_s);
        c.playlist->setText(u"Lost"_s);
        // Now starts nothing, Clone adds nothing.
        c.nowButton->click();
        QCOMPARE(alerts.titles(), QStringList{u"Name already in use"_s});
        QVERIFY(!window->current()->inProgress);
        QVERIFY(!window->current()->logText.contains(u"Started recording"_s));
        QVERIFY(c.nowButton->isEnabled());
        c.cloneButton->click();
        QCOMPARE(alerts.alerts.size(), 2);
        QCOMPARE(Harness::names(*window), (QStringList{u"Jazz"_s, u"Rock"_s}));
        // New comes all the same; the edits are dropped.
        c.newButton->click();
        QCOMPARE(alerts.titles(), QStringList(3, u"Name already in use"_s));
        QCOMPARE(window->current()->name, u"New Recording 1"_s);
        const Recording *jazz = window->recList().at(0);
        QCOMPARE(jazz->name, u"Jazz"_s);
        QCOMPARE(jazz->playList, u"My Skyvane Recordings"_s);
    }

    void deleteAsksAndShowsTheNextRow_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<int>("removed");
        QTest::addColumn<Qt::Key>("answer"); // Key_Delete: its Delete button
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("left");
        const QStringList abc{u"a"_s, u"b"_s, u"c"_s};
        const Qt::Key yes = Qt::Key_Delete;
        QTest::newRow("last") << abc << 2 << yes << u"b"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("middle") << abc << 1 << yes << u"c"_s << QStringList{u"a"_s, u"c"_s};
        QTest::newRow("only") << QStringList{u"a"_s} << 0 << yes << u"New Recording 1"_s
                              << QStringList{u"New Recording 1"_s};
        QTest::newRow("Return cancels") << abc << 1 << Qt::Key_Return << u"b"_s << abc;
        QTest::newRow("Escape cancels") << abc << 1 << Qt::Key_Escape << u"b"_s << abc;
    }
    void deleteAsksAndShowsTheNextRow()
    {
        QFETCH(QStringList, existing);
        QFETCH(int, removed);
        QFETCH(Qt::Key, answer);
        QFETCH(QString, shown);
        QFETCH(QStringList, left);
        auto window = start(existing);
        window->loadRecord(removed);
        const QByteArray before = Harness::storedBytes();
        // The real message box, answered as a user would. What it showed is
        // compared once it has closed, so a wrong box never stays open.
        QStringList seen;
        QTimer::singleShot(0, qApp, [answer, &seen] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            QAbstractButton *cancel = box->defaultButton();
            QStringList buttons;
            for (QAbstractButton *button : box->buttons())
                buttons.append(button->text());
            buttons.sort();
            seen = {box->text(), box->informativeText(), cancel ? cancel->text() : QString(),
                    box->escapeButton() == cancel ? u"Escape cancels"_s : QString(),
                    buttons.join(u'|')};
            for (QAbstractButton *button : box->buttons()) {
                if (answer == Qt::Key_Delete && button->text() == u"Delete"_s)
                    button->click();
            }
            if (answer != Qt::Key_Delete)
                QTest::keyClick(box, answer);
        });
        Controls(*window).deleteButton->click();
        QCOMPARE(seen, (QStringList{u"Delete this recording?"_s, u"Do you want to proceed?"_s,
                                    u"Cancel"_s, u"Escape cancels"_s, u"Cancel|Delete"_s}));
        QCOMPARE(Harness::names(*window), left);
        QCOMPARE(window->current()->name, shown);
        QCOMPARE(Controls(*window).picker->currentText(), shown);
        if (answer == Qt::Key_Delete)
            QCOMPARE(Harness::storedNames(), left);
        else
            QCOMPARE(Harness::storedBytes(), before);
    }

    void shortcutsPressButtons()
    {
        AlertRecorder alerts;
        auto window = start({u"Jazz"_s});
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        Controls(*window).artist->setText(u"Edited"_s);
        QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
        QTRY_COMPARE(window->current()->customArtist, u"Edited"_s);
        QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
        QTRY_COMPARE(window->recList().size(), 2);
        QVERIFY(alerts.alerts.isEmpty());
    }

    void hostCallsWithoutACapture()
    {
        auto window = start({u"Jazz"_s});
        const QString before = window->current()->logText;
        // The button is disabled without a capture; the command still holds.
        QVERIFY(!Controls(*window).stopButton->isEnabled());
        window->stopPressed();
        QCOMPARE(window->current()->logText, before + u"Stopped by user\n"_s);
        QVERIFY(Controls(*window).log->toPlainText().contains(u"Stopped by user"_s));

        // A day cleared by a finished capture only turns off its button.
        window->days()[2]->setChecked(true);
        window->current()->days[2] = true;
        window->clearDay(2);
        QVERIFY(!window->days()[2]->isChecked());
        QVERIFY(window->current()->days[2]);
        window->clearDay(7);
        window->clearDay(-1);
    }

    void dropsStationLinks_data()
    {
        QTest::addColumn<QString>("url"); // none: only text is dragged
        QTest::addColumn<QByteArray>("mozUrl");
        QTest::addColumn<Qt::DropActions>("allowed");
        QTest::addColumn<QString>("station"); // none: the drop is refused
        QTest::addColumn<QString>("title");   // none: name and playlist stay
        const Qt::DropActions copy = Qt::CopyAction;
        QTest::newRow("link with its title")
            << u"http://radio.example/live stream"_s
            << mozUrl(u"http://radio.example/live stream\nRadio Ünïcode"_s)
            << (Qt::CopyAction | Qt::MoveAction) << u"http://radio.example/live%20stream"_s
            << u"Radio Ünïcode"_s;
        QTest::newRow("link without a title")
            << u"https://radio.example/aac"_s << QByteArray() << copy
            << u"https://radio.example/aac"_s << QString();
        QTest::newRow("no copy offered")
            << u"http://a/"_s << QByteArray() << (Qt::MoveAction | Qt::LinkAction) << QString()
            << QString();
        QTest::newRow("text, not a link")
            << QString() << QByteArray() << copy << QString() << QString();
        QTest::newRow("title after crlf, then nul")
            << u"http://a/"_s << mozUrl(u"http://a/\r\nJazz FM\r\n"_s + QChar(0)) << copy
            << u"http://a/"_s << u"Jazz FM"_s;
        QTest::newRow("byte order mark")
            << u"http://a/"_s << mozUrl(QChar(0xFEFF) + u"http://a/\nX"_s) << copy << u"http://a/"_s
            << u"X"_s;
        QTest::newRow("no title line")
            << u"http://a/"_s << mozUrl(u"http://a/"_s) << copy << u"http://a/"_s << QString();
        QTest::newRow("blank title")
            << u"http://a/"_s << mozUrl(u"http://a/\n  "_s) << copy << u"http://a/"_s << QString();
        QTest::newRow("odd length") << u"http://a/"_s << mozUrl(u"http://a/\nAB"_s) + 'x' << copy
                                    << u"http://a/"_s << u"AB"_s;
    }
    void dropsStationLinks()
    {
        QFETCH(QString, url);
        QFETCH(QByteArray, mozUrl);
        QFETCH(Qt::DropActions, allowed);
        QFETCH(QString, station);
        QFETCH(QString, title);
        auto window = start({u"Jazz"_s});
        const Controls c(*window);
        QMimeData data;
        if (url.isEmpty())
            data.setText(u"http://radio.example/"_s);
        else
            data.setUrls({QUrl(url)});
        if (!mozUrl.isEmpty())
            data.setData(u"text/x-moz-url"_s, mozUrl);
        QCOMPARE(Harness::drop(*window, data, allowed),
                 station.isEmpty() ? Qt::IgnoreAction : Qt::CopyAction);
        QCOMPARE(c.station->text(), station.isEmpty() ? Harness::storedUrl : station);
        QCOMPARE(c.picker->currentText(), title.isEmpty() ? u"Jazz"_s : title);
        QCOMPARE(c.playlist->text(), title.isEmpty() ? u"My Skyvane Recordings"_s : title);
        QCOMPARE(c.artist->text(), u"Skyvane"_s);
        // Only the controls change: nothing is saved until the user saves.
        QCOMPARE(window->current()->name, u"Jazz"_s);
        QCOMPARE(window->current()->url, Harness::storedUrl);
        QCOMPARE(Harness::storedNames(), QStringList{u"Jazz"_s});
    }

    void nowCapturesAndStopEnds()
    {
        AlertRecorder alerts;
        auto window = capturing({u"Live"_s, u"Another"_s});
        QVERIFY(window);
        const Controls c(*window);
        QVERIFY(!c.nowButton->isEnabled());
        QVERIFY(!c.deleteButton->isEnabled());
        QVERIFY(c.stopButton->isEnabled());
        QVERIFY(c.progress->isVisible());
        QVERIFY(c.log->toPlainText().contains(u"Started recording"_s));
        QVERIFY(c.log->toPlainText().contains(u"Connecting to "_s + liveUrl()));

        // The picker marks the capturing recording; leave it, and come back by
        // its marked label.
        c.picker->showPopup();
        QCOMPARE(c.picker->itemText(0), u"Another"_s);
        QCOMPARE(c.picker->itemText(1), u"Live *"_s);
        c.picker->hidePopup();
        Harness::choose(c.picker, 0);
        QCOMPARE(window->current()->name, u"Another"_s);
        QVERIFY(!c.stopButton->isEnabled());
        QVERIFY(c.progress->isHidden());
        QVERIFY(window->recList().at(1)->inProgress);
        Harness::choose(c.picker, 1);
        QCOMPARE(window->current()->name, u"Live"_s);
        QCOMPARE(c.picker->currentText(), u"Live *"_s);
        QVERIFY(c.stopButton->isEnabled());
        QVERIFY(c.progress->isVisible());
        // The next save takes the marker off again.
        QVERIFY(window->saveRecord());
        QCOMPARE(window->current()->name, u"Live"_s);
        QVERIFY(window->current()->inProgress);

        // A drop only edits the controls: the capture goes on from its station.
        QMimeData data;
        data.setUrls({QUrl(u"http://radio.example/other"_s)});
        QCOMPARE(Harness::drop(*window, data, Qt::CopyAction), Qt::CopyAction);
        QCOMPARE(c.station->text(), u"http://radio.example/other"_s);
        QCOMPARE(window->current()->url, liveUrl());
        const qint64 before = window->current()->dataSize;
        QVERIFY(QTest::qWaitFor([&] { return window->current()->dataSize > before; }));

        c.stopButton->click();
        QVERIFY(alerts.alerts.isEmpty());
        QVERIFY(!window->current()->inProgress);
        const QString log = window->current()->logText;
        const qsizetype stopped = log.indexOf(u"Stopped by user\n"_s);
        QVERIFY(stopped >= 0);
        QVERIFY(log.indexOf(u"Recording ended at"_s, stopped) > stopped);
        QVERIFY(c.nowButton->isEnabled());
        QVERIFY(c.deleteButton->isEnabled());
        QVERIFY(!c.stopButton->isEnabled());
        QVERIFY(c.progress->isHidden());
        QCOMPARE(c.progress->value(), 0);
        QCOMPARE(Harness::storedNames(), (QStringList{u"Another"_s, u"Live"_s}));
        QTRY_COMPARE(m_station.openConnections(), 0);
    }

    void closingEndsCapturesAndSavesTheEditor_data()
    {
        QTest::addColumn<bool>("clearStation");
        QTest::addColumn<QStringList>("alerts");
        QTest::addColumn<QString>("playlist");
        QTest::newRow("saved") << false << QStringList() << u"Saved on closing"_s;
        QTest::newRow("empty station")
            << true << QStringList{u"Missing Station URL"_s} << u"My Skyvane Recordings"_s;
    }
    void closingEndsCapturesAndSavesTheEditor()
    {
        QFETCH(bool, clearStation);
        QFETCH(QStringList, alerts);
        QFETCH(QString, playlist);
        AlertRecorder recorded;
        auto window = capturing({u"Live"_s, u"Quiet"_s});
        QVERIFY(window);
        window->loadRecord(1);
        const Controls c(*window);
        if (clearStation)
            c.station->setText(QString());
        c.playlist->setText(u"Saved on closing"_s);
        QVERIFY(window->close());
        QCOMPARE(recorded.titles(), alerts);
        const Recording *live = window->recList().at(0);
        QVERIFY(!live->inProgress);
        QVERIFY(live->logText.contains(u"Recording ended at"_s));
        QCOMPARE(Harness::stored(1, "playList").toString(), playlist);
        QCOMPARE(Harness::stored(1, "url").toString(), liveUrl());
        QTRY_COMPARE(m_station.openConnections(), 0);

        // The capture code may still call the host after the window closed.
        QCOMPARE(recorder, window.get());
        recorder->enableButtons();
        recorder->clearDay(0);
        recorder->storeRecList();
        window.reset();
        QCOMPARE(recorder, nullptr);
    }
};

QTEST_MAIN(TestWindowCommands)
#include "tst_windowcommands.moc"
