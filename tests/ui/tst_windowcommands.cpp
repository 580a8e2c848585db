// The window's list commands, the host calls of the capture code, and
// station links dropped onto the window.
#include <memory>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "model/recording.h"
#include "ui/recordingpicker.h"
#include "ui/skyvane.h"
#include "ui/stationdrop.h"
#include "windowharness.h"

using namespace Qt::StringLiterals;

namespace {

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
    std::unique_ptr<Skyvane> start(const QStringList &names)
    {
        QList<StoredRecording> rows;
        for (const QString &name : names)
            rows.append(Harness::row(name));
        if (!rows.isEmpty())
            Harness::writeList(rows);
        auto window = std::make_unique<Skyvane>();
        window->show();
        return window;
    }

private Q_SLOTS:
    void init() { Harness::removeListFiles(); }

    void newTakesTheFirstFreeNumber_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("created");
        QTest::newRow("gap") << QStringList{u"New Recording 1"_s, u"New Recording 3"_s}
                             << u"New Recording 2"_s;
        QTest::newRow("other case") << QStringList{u"new recording 1"_s} << u"New Recording 2"_s;
        QTest::newRow("none yet") << QStringList{u"Jazz"_s} << u"New Recording 1"_s;
    }
    void newTakesTheFirstFreeNumber()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, created);
        AlertRecorder alerts;
        auto window = start(existing);
        Controls(*window).newButton->click();
        QVERIFY(alerts.alerts.isEmpty());
        QCOMPARE(Harness::names(*window), existing + QStringList{created});
        QCOMPARE(window->curIndex(), existing.size());
        QCOMPARE(Controls(*window).picker->currentText(), created);
        QVERIFY2(!window->current()->timer, "a new recording waits for its first save");
    }

    void newAfterARefusedSaveDropsTheEdits()
    {
        AlertRecorder alerts;
        auto window = start({u"Jazz"_s});
        Controls c(*window);
        c.station->setText(QString());
        c.playlist->setText(QStringLiteral("Lost"));
        c.newButton->click();
        QCOMPARE(alerts.titles(), QStringList{QStringLiteral("Missing Station URL")});
        QCOMPARE(window->current()->name, QStringLiteral("New Recording 1"));
        const Recording *jazz = window->recList().at(0);
        QCOMPARE(jazz->url, QStringLiteral("http://127.0.0.1:9/stream"));
        QCOMPARE(jazz->playList, QStringLiteral("My Skyvane Recordings"));
    }

    void cloneNamesTheCopy_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<int>("source");
        QTest::addColumn<QString>("created");
        QTest::newRow("Jazz 2 taken") << QStringList{u"Jazz"_s, u"Jazz 2"_s} << 0 << u"Jazz 3"_s;
        QTest::newRow("clone of a clone")
            << QStringList{u"Jazz"_s, u"Jazz 2"_s} << 1 << u"Jazz 2 2"_s;
        QTest::newRow("first clone") << QStringList{u"Rock"_s} << 0 << u"Rock 2"_s;
    }
    void cloneNamesTheCopy()
    {
        QFETCH(QStringList, existing);
        QFETCH(int, source);
        QFETCH(QString, created);
        AlertRecorder alerts;
        auto window = start(existing);
        window->loadRecord(source);
        Controls c(*window);
        c.artist->setText(QStringLiteral("Saved first"));
        window->current()->log(QStringLiteral("old line\n"));
        c.cloneButton->click();
        QVERIFY(alerts.alerts.isEmpty());
        QCOMPARE(Harness::names(*window), existing + QStringList{created});
        const Recording *copy = window->current();
        QCOMPARE(copy->name, created);
        QCOMPARE(copy->customArtist, QStringLiteral("Saved first"));
        QCOMPARE(copy->url, QStringLiteral("http://127.0.0.1:9/stream"));
        QVERIFY(copy->logText.isEmpty());
        QVERIFY(!copy->timer);
        QCOMPARE(window->recList().at(source)->customArtist, QStringLiteral("Saved first"));
    }

    void cloneStopsWhenTheSaveIsRefused()
    {
        AlertRecorder alerts;
        auto window = start({u"Jazz"_s});
        Controls(*window).station->setText(QStringLiteral("no spaces please"));
        Controls(*window).cloneButton->click();
        QCOMPARE(alerts.titles(), QStringList{QStringLiteral("Invalid URL")});
        QCOMPARE(window->recList().size(), 1);
    }

    void deleteShowsTheNextRow_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<int>("removed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("last") << QStringList{u"a"_s, u"b"_s, u"c"_s} << 2 << u"b"_s
                              << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("middle") << QStringList{u"a"_s, u"b"_s, u"c"_s} << 1 << u"c"_s
                                << QStringList{u"a"_s, u"c"_s};
        QTest::newRow("first") << QStringList{u"a"_s, u"b"_s, u"c"_s} << 0 << u"b"_s
                               << QStringList{u"b"_s, u"c"_s};
        QTest::newRow("only") << QStringList{u"a"_s} << 0 << u"New Recording 1"_s
                              << QStringList{u"New Recording 1"_s};
    }
    void deleteShowsTheNextRow()
    {
        QFETCH(QStringList, existing);
        QFETCH(int, removed);
        QFETCH(QString, shown);
        QFETCH(QStringList, left);
        AlertRecorder alerts;
        alerts.answer = AlertAnswer::Alternate;
        auto window = start(existing);
        window->loadRecord(removed);
        Controls(*window).deleteButton->click();
        QCOMPARE(alerts.alerts.size(), 1);
        const Alert &question = alerts.alerts.first();
        QCOMPARE(question.title, QStringLiteral("Delete this recording?"));
        QCOMPARE(question.text, QStringLiteral("Do you want to proceed?"));
        QCOMPARE(question.defaultButton, QStringLiteral("Cancel"));
        QCOMPARE(question.alternateButton, QStringLiteral("Delete"));
        QCOMPARE(Harness::names(*window), left);
        QCOMPARE(window->current()->name, shown);
        QCOMPARE(Controls(*window).picker->currentText(), shown);
        QStringList stored;
        for (const StoredRecording &row : Harness::readList())
            stored.append(row.name);
        QCOMPARE(stored, left);
    }

    void cancelledDeleteChangesNothing()
    {
        AlertRecorder alerts;
        auto window = start({u"a"_s, u"b"_s});
        QFile file(Harness::listPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        Controls(*window).deleteButton->click();
        QCOMPARE(alerts.alerts.size(), 1);
        QCOMPARE(Harness::names(*window), (QStringList{u"a"_s, u"b"_s}));
        QCOMPARE(window->curIndex(), 0);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }

    void deleteQuestionDefaultsToCancel()
    {
        // The real message box, answered as a user would. What it showed is
        // compared once it has closed, so a wrong box never stays open.
        struct Seen
        {
            QString text, informativeText, defaultButton;
            bool escapeIsDefault = false;
            qsizetype buttons = 0;
        };
        const auto answer = [](int key, Seen *seen) {
            QTimer::singleShot(0, qApp, [key, seen] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (!box)
                    return;
                *seen = {box->text(), box->informativeText(),
                         box->defaultButton() ? box->defaultButton()->text() : QString(),
                         box->escapeButton() == box->defaultButton(), box->buttons().size()};
                if (key != Qt::Key_Delete) {
                    QTest::keyClick(box, Qt::Key(key));
                    return;
                }
                for (QAbstractButton *button : box->buttons()) {
                    if (button->text() == u"Delete"_s)
                        button->click();
                }
            });
        };
        auto window = start({u"a"_s, u"b"_s});
        for (const int key : {int(Qt::Key_Return), int(Qt::Key_Escape)}) {
            Seen seen;
            answer(key, &seen);
            Controls(*window).deleteButton->click();
            QCOMPARE(seen.text, u"Delete this recording?"_s);
            QCOMPARE(seen.informativeText, u"Do you want to proceed?"_s);
            QCOMPARE(seen.defaultButton, u"Cancel"_s);
            QVERIFY(seen.escapeIsDefault);
            QCOMPARE(seen.buttons, 2);
            QCOMPARE(window->recList().size(), 2);
        }
        Seen seen;
        answer(Qt::Key_Delete, &seen);
        Controls(*window).deleteButton->click();
        QCOMPARE(Harness::names(*window), QStringList{u"b"_s});
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

    void nowWithATakenNameStartsNothing()
    {
        AlertRecorder alerts;
        auto window = start({u"Jazz"_s, u"Rock"_s});
        Controls c(*window);
        c.picker->setEditText(QStringLiteral("ROCK"));
        c.nowButton->click();
        QCOMPARE(alerts.titles(), QStringList{QStringLiteral("Name already in use")});
        QVERIFY(!window->current()->inProgress);
        QVERIFY(!window->current()->logText.contains(QStringLiteral("Started recording")));
        QVERIFY(c.nowButton->isEnabled());
    }

    void stopWithoutACaptureOnlyLogs()
    {
        auto window = start({u"Jazz"_s});
        const QString before = window->current()->logText;
        // The button is disabled without a capture; the command still holds.
        QVERIFY(!Controls(*window).stopButton->isEnabled());
        window->stopPressed();
        QCOMPARE(window->current()->logText, before + QStringLiteral("Stopped by user\n"));
        QVERIFY(Controls(*window).log->toPlainText().contains(QStringLiteral("Stopped by user")));
    }

    void revertShowsTheStoredValues()
    {
        auto window = start({u"Jazz"_s});
        Controls c(*window);
        c.picker->setEditText(QStringLiteral("Changed"));
        c.station->setText(QStringLiteral("http://other.example/"));
        window->days()[3]->setChecked(true);
        c.revertButton->click();
        QCOMPARE(c.picker->currentText(), QStringLiteral("Jazz"));
        QCOMPARE(c.station->text(), QStringLiteral("http://127.0.0.1:9/stream"));
        QVERIFY(!window->days()[3]->isChecked());
    }

    void clearDayOnlyTurnsOffTheButton()
    {
        auto window = start({u"Jazz"_s});
        window->days()[2]->setChecked(true);
        window->current()->days[2] = true;
        window->clearDay(2);
        QVERIFY(!window->days()[2]->isChecked());
        QVERIFY(window->current()->days[2]);
        window->clearDay(7);
        window->clearDay(-1);
    }

    void dropsALinkWithItsTitle()
    {
        auto window = start({u"Jazz"_s});
        Controls c(*window);
        QMimeData data;
        data.setUrls({QUrl(QStringLiteral("http://radio.example/live stream"))});
        data.setData(QStringLiteral("text/x-moz-url"),
                     mozUrl(QStringLiteral("http://radio.example/live stream\nRadio Ünïcode")));
        QCOMPARE(Harness::drop(*window, data, Qt::CopyAction | Qt::MoveAction), Qt::CopyAction);
        QCOMPARE(c.station->text(), QStringLiteral("http://radio.example/live%20stream"));
        QCOMPARE(c.picker->currentText(), QStringLiteral("Radio Ünïcode"));
        QCOMPARE(c.playlist->text(), QStringLiteral("Radio Ünïcode"));
        QCOMPARE(c.artist->text(), QStringLiteral("Skyvane"));
        QCOMPARE(window->current()->name, QStringLiteral("Jazz"));
        QCOMPARE(Harness::readList().value(0).name, QStringLiteral("Jazz"));
    }

    void dropsALinkWithoutATitle()
    {
        auto window = start({u"Jazz"_s});
        Controls c(*window);
        QMimeData data;
        data.setUrls({QUrl(QStringLiteral("https://radio.example/aac"))});
        QCOMPARE(Harness::drop(*window, data, Qt::CopyAction), Qt::CopyAction);
        QCOMPARE(c.station->text(), QStringLiteral("https://radio.example/aac"));
        QCOMPARE(c.picker->currentText(), QStringLiteral("Jazz"));
        QCOMPARE(c.playlist->text(), QStringLiteral("My Skyvane Recordings"));
    }

    void refusesDragsItCannotCopy()
    {
        auto window = start({u"Jazz"_s});
        QMimeData link;
        link.setUrls({QUrl(QStringLiteral("http://radio.example/"))});
        QCOMPARE(Harness::drop(*window, link, Qt::MoveAction | Qt::LinkAction), Qt::IgnoreAction);
        QMimeData text;
        text.setText(QStringLiteral("http://radio.example/"));
        QCOMPARE(Harness::drop(*window, text, Qt::CopyAction), Qt::IgnoreAction);
        QCOMPARE(Controls(*window).station->text(), QStringLiteral("http://127.0.0.1:9/stream"));
    }

    void readsTheTitleOfAMozillaLink_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("title");
        QTest::newRow("plain") << mozUrl(QStringLiteral("http://a/\nJazz FM")) << u"Jazz FM"_s;
        QTest::newRow("crlf and nul")
            << mozUrl(QStringLiteral("http://a/\r\nJazz FM\r\n") + QChar(0)) << u"Jazz FM"_s;
        QTest::newRow("byte order mark")
            << mozUrl(QChar(0xFEFF) + QStringLiteral("http://a/\nX")) << u"X"_s;
        QTest::newRow("no title") << mozUrl(QStringLiteral("http://a/")) << QString();
        QTest::newRow("empty title") << mozUrl(QStringLiteral("http://a/\n  ")) << QString();
        QTest::newRow("odd length") << mozUrl(QStringLiteral("http://a/\nAB")) + 'x' << u"AB"_s;
    }
    void readsTheTitleOfAMozillaLink()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QString, title);
        const std::optional<QString> found = StationDrop::titleFromMozUrl(payload);
        QCOMPARE(found.value_or(QString()), title);
        QCOMPARE(found.has_value(), !title.isEmpty());
    }
};

QTEST_MAIN(TestWindowCommands)
#include "tst_windowcommands.moc"
