// The window while a recording captures a real stream from a station on
// 127.0.0.1: Now and Stop, the picker's capture marker, a drop during a
// capture, and closing the window.
#include <memory>

#include <QAbstractItemView>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "model/recorderhost.h"
#include "model/recording.h"
#include "ui/recordingpicker.h"
#include "ui/skyvane.h"
#include "windowharness.h"

using namespace Qt::StringLiterals;

namespace {

// Answers every request with an HTTP audio stream that never ends by itself.
class TinyStation : public QObject
{
public:
    TinyStation()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
        QObject::connect(&m_pump, &QTimer::timeout, this, [this] { pump(); });
        m_pump.start(20);
    }

    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QString url() const { return u"http://127.0.0.1:%1/live"_s.arg(m_server.serverPort()); }
    int streaming() const { return int(m_streaming.size()); }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                m_requests[socket] += socket->readAll();
                if (m_requests[socket].contains("\r\n\r\n") && !m_streaming.contains(socket)) {
                    socket->write("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n");
                    m_streaming.append(socket);
                }
            });
            QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_streaming.removeAll(socket);
                m_requests.remove(socket);
                socket->deleteLater();
            });
        }
    }

    void pump()
    {
        const QByteArray audio(4096, '\x55');
        for (QTcpSocket *socket : std::as_const(m_streaming))
            socket->write(audio);
    }

    QTcpServer m_server;
    QTimer m_pump;
    QList<QTcpSocket *> m_streaming;
    QHash<QTcpSocket *, QByteArray> m_requests;
};

} // namespace

class TestWindowCapture : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TinyStation> m_station;

    std::unique_ptr<Skyvane> start(const QStringList &names)
    {
        QList<StoredRecording> rows;
        for (const QString &name : names) {
            StoredRecording row = Harness::row(name);
            row.url = m_station->url();
            rows.append(row);
        }
        Harness::writeList(rows);
        auto window = std::make_unique<Skyvane>();
        window->show();
        return window;
    }

    // Presses Now and waits for audio to arrive.
    static bool startCapture(Skyvane &window)
    {
        Controls(window).nowButton->click();
        if (!window.current()->inProgress)
            return false;
        return QTest::qWaitFor([&] { return window.current()->dataSize > 0; });
    }

private Q_SLOTS:
    void init()
    {
        Harness::removeListFiles();
        m_station = std::make_unique<TinyStation>();
        QVERIFY(m_station->listen());
    }
    void cleanup() { m_station.reset(); }

    void nowRecordsAndStopEnds()
    {
        AlertRecorder alerts;
        auto window = start({u"Live"_s});
        Controls c(*window);
        QVERIFY(startCapture(*window));
        QVERIFY(alerts.alerts.isEmpty());
        QVERIFY(!c.nowButton->isEnabled());
        QVERIFY(!c.deleteButton->isEnabled());
        QVERIFY(c.stopButton->isEnabled());
        QVERIFY(c.progress->isVisible());
        QVERIFY(c.log->toPlainText().contains(u"Started recording"_s));
        QVERIFY(c.log->toPlainText().contains(u"Connecting to "_s + m_station->url()));

        c.stopButton->click();
        QVERIFY(!window->current()->inProgress);
        const QString log = window->current()->logText;
        const qsizetype stopped = log.indexOf(u"Stopped by user\n"_s);
        QVERIFY(stopped >= 0);
        QVERIFY(log.indexOf(u"Recording ended at"_s, stopped) > stopped);
        QVERIFY(c.nowButton->isEnabled());
        QVERIFY(!c.stopButton->isEnabled());
        QVERIFY(c.progress->isHidden());
        QCOMPARE(c.progress->value(), 0);
        QCOMPARE(Harness::readList().size(), 1);
        QTRY_COMPARE(m_station->streaming(), 0);
    }

    void pickerMarksCapturingRecordings()
    {
        AlertRecorder alerts;
        auto window = start({u"Live"_s, u"Another"_s});
        Controls c(*window);
        QVERIFY(startCapture(*window));
        c.picker->showPopup();
        QCOMPARE(c.picker->itemText(0), u"Another"_s);
        QCOMPARE(c.picker->itemText(1), u"Live *"_s);

        // Leave the capturing recording and come back by its marked label.
        QAbstractItemView *list = c.picker->view();
        list->setCurrentIndex(list->model()->index(0, 0));
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(window->current()->name, u"Another"_s);
        QVERIFY(!c.stopButton->isEnabled());
        QVERIFY(c.progress->isHidden());
        QVERIFY(window->recList().at(1)->inProgress);

        c.picker->showPopup();
        list->setCurrentIndex(list->model()->index(1, 0));
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(window->current()->name, u"Live"_s);
        QCOMPARE(c.picker->currentText(), u"Live *"_s);
        QVERIFY(c.stopButton->isEnabled());
        QVERIFY(c.progress->isVisible());
        // The next save takes the marker off again.
        QVERIFY(window->saveRecord());
        QCOMPARE(window->current()->name, u"Live"_s);
        QVERIFY(window->current()->inProgress);
        QVERIFY(alerts.alerts.isEmpty());
        window->stopPressed();
    }

    void dropDuringACaptureOnlyEditsTheControls()
    {
        auto window = start({u"Live"_s});
        Controls c(*window);
        QVERIFY(startCapture(*window));
        QMimeData data;
        data.setUrls({QUrl(u"http://radio.example/other"_s)});
        QCOMPARE(Harness::drop(*window, data, Qt::CopyAction), Qt::CopyAction);
        QCOMPARE(c.station->text(), u"http://radio.example/other"_s);
        QVERIFY(window->current()->inProgress);
        QCOMPARE(window->current()->url, m_station->url());
        const qint64 before = window->current()->dataSize;
        QVERIFY(QTest::qWaitFor([&] { return window->current()->dataSize > before; }));
        window->stopPressed();
    }

    void closingEndsCapturesAndSavesTheEditor()
    {
        AlertRecorder alerts;
        auto window = start({u"Live"_s, u"Quiet"_s});
        Controls c(*window);
        QVERIFY(startCapture(*window));
        window->loadRecord(1);
        c.playlist->setText(u"Saved on closing"_s);
        QVERIFY(window->close());
        QVERIFY(alerts.alerts.isEmpty());
        const Recording *live = window->recList().at(0);
        QVERIFY(!live->inProgress);
        QVERIFY(live->logText.contains(u"Recording ended at"_s));
        QCOMPARE(Harness::readList().value(1).playList, u"Saved on closing"_s);
        QTRY_COMPARE(m_station->streaming(), 0);

        // The capture code may still call the host after the window closed.
        QCOMPARE(recorder, window.get());
        recorder->enableButtons();
        recorder->clearDay(0);
        recorder->storeRecList();
        window.reset();
        QCOMPARE(recorder, nullptr);
    }

    void closingWithAnEmptyStationSavesNothing()
    {
        AlertRecorder alerts;
        auto window = start({u"Live"_s});
        Controls c(*window);
        QVERIFY(startCapture(*window));
        c.station->setText(QString());
        c.playlist->setText(u"Not saved"_s);
        QVERIFY(window->close());
        QCOMPARE(alerts.titles(), QStringList{u"Missing Station URL"_s});
        QVERIFY(!window->current()->inProgress);
        QCOMPARE(Harness::readList().value(0).playList, u"My Skyvane Recordings"_s);
        QCOMPARE(Harness::readList().value(0).url, m_station->url());
    }
};

QTEST_MAIN(TestWindowCapture)
#include "tst_windowcapture.moc"
