// Text that Skyvane did not write (a station's title, a URL, a name from the
// list file) reaches the window's labels, tooltips and message boxes and the
// desktop's notifications as plain text, never as markup that Qt or a
// notification server would render (and load images for).
#include <QtTest>
#include <QtWidgets>

#include "platform/clock.h"
#include "platform/desktopnotifications.h"
#include "stationsimulator.h"
#include "testmain.h"
#include "ui/alerts.h"
#include "ui/mainwindow.h"
#include "ui/recordingtablemodel.h"

using namespace Qt::StringLiterals;

namespace {

// Whether the label renders its text as markup, as QLabel decides it.
bool readsMarkup(const QLabel *label)
{
    return label->textFormat() == Qt::RichText ||
           (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
}

// The text a person sees when the markup is rendered.
QString rendered(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}

} // namespace

class TestHostileText : public QObject
{
    Q_OBJECT

    QTemporaryDir m_files;
    StationSimulator m_station;
    QString m_image; // big enough to stretch any label that loaded it

private Q_SLOTS:
    void initTestCase()
    {
        m_image = m_files.filePath(u"big.png"_s);
        QImage image(600, 600, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(m_image));
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 2), QTime(9, 0)); });
        QVERIFY(m_station.start());
    }

    void surfaces_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("image") << u"<b>x</b><img src=\""_s + m_image + u"\">"_s;
        QTest::newRow("font") << u"<font size=7 color=red>loud</font>"_s;
        QTest::newRow("link, ampersand") << u"Rock & Roll <a href=\"file:///etc/passwd\">x</a>"_s;
        QTest::newRow("document") << u"<!DOCTYPE html><html><body><h1>Big</h1></body></html>"_s;
        QTest::newRow("qt tag") << u"<qt>R&amp;B"_s;
    }
    // The status line under the log (the station's title), the overview's
    // tooltips (a name from the list file), an alert and a notification's body.
    void surfaces()
    {
        QFETCH(QString, text);
        auto route = StationSimulator::Route::stream(QByteArrayLiteral("ICY 200 OK"), 4000);
        route.titles = {text.toUtf8()};
        route.bytesPerSecond = 40000;
        m_station.setRoute("/hostile", route);
        {
            RecordingList list;
            const RecordingSettings settings = RecordingSettings::fromJson(
                {{u"name"_s, text}, {u"url"_s, m_station.url(u"/hostile")}});
            list.append(std::make_unique<Recording>(settings));
            list.store();
        }
        MainWindow window;
        Recording *recording = window.list().at(0);
        recording->startCapture();
        auto *status = window.findChild<QLabel *>(u"captureStatus"_s);
        QTRY_VERIFY(status->text().startsWith(text));
        QVERIFY(!readsMarkup(status));
        QVERIFY(status->sizeHint().height() < 200);

        const RecordingTableModel &model = window.editor().overview();
        const QModelIndex name = model.index(0, RecordingTableModel::Name);
        QCOMPARE(rendered(name.data(Qt::ToolTipRole).toString()), text);
        recording->stopCapture();

        setAlertPresenter(nullptr); // the real message box
        QList<const QLabel *> shown;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, &answer, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                for (const QLabel *label : box->findChildren<QLabel *>()) {
                    if (label->text().contains(text) && !readsMarkup(label))
                        shown.append(label);
                }
                box->reject();
            }
        });
        answer.start(10);
        runAlert(&window, Alert{text, text, {}, {}});
        QCOMPARE(shown.size(), 2);

        const QString body = DesktopNotifications::bodyMarkup(text);
        QVERIFY(!body.contains(u'<'));
        QCOMPARE(rendered(body), text);
    }
};

SKYVANE_TEST_MAIN(TestHostileText)
#include "tst_hostiletext.moc"
