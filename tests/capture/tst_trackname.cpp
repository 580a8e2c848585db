#include <QLocale>
#include <QTest>

#include "capture/trackname.h"

class TestTrackName : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Names must not follow the desktop language.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }

    void madeNames_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("fileBase");
        QTest::addColumn<QString>("title");
        const QDate dec5(2026, 12, 5);
        QTest::newRow("morning") << "Morning Show" << QDateTime(dec5, QTime(9, 45))
                                 << "Morning Show_Dec_05_2026__09_45AM"
                                 << "Morning Show - Dec 05, 2026 09:45AM";
        QTest::newRow("noon") << "Noon" << QDateTime(QDate(2026, 3, 1), QTime(12, 5))
                              << "Noon_Mar_01_2026__12_05PM"
                              << "Noon - Mar 01, 2026 12:05PM";
        QTest::newRow("past midnight")
            << "Late" << QDateTime(QDate(2026, 5, 9), QTime(0, 30)) << "Late_May_09_2026__12_30AM"
            << "Late - May 09, 2026 12:30AM";
        QTest::newRow("percent stays literal") << "100%d %p Hits" << QDateTime(dec5, QTime(23, 0))
                                               << "100%d %p Hits_Dec_05_2026__11_00PM"
                                               << "100%d %p Hits - Dec 05, 2026 11:00PM";
    }
    void madeNames()
    {
        QFETCH(QString, base);
        QFETCH(QDateTime, when);
        QFETCH(QString, fileBase);
        QFETCH(QString, title);
        QCOMPARE(TrackName::madeFileBase(base, when), fileBase);
        QCOMPARE(TrackName::madeTitle(base, when), title);
    }

    void cleaning_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("fileBase");
        QTest::newRow("refused characters") << "A/B\\C:D'E\"F~G"
                                            << "A_B_C_D_E_FG";
        QTest::newRow("control characters go") << QStringLiteral("Tab\there\x01\n") << "Tabhere";
        QTest::newRow("nothing left") << "~~"
                                      << "Untitled";
        QTest::newRow("other scripts stay") << "Кино - Группа крови"
                                            << "Кино - Группа крови";
    }
    void cleaning()
    {
        QFETCH(QString, title);
        QFETCH(QString, fileBase);
        QCOMPARE(TrackName::cleanStreamTitle(title), fileBase);
    }

    void namesFitTheFileSystem()
    {
        const QString ext = QStringLiteral(".mp3");
        QCOMPARE(TrackName::fitFileName(QStringLiteral("Short"), ext, 246),
                 QStringLiteral("Short.mp3"));
        // Three bytes a character: cut at a character, never inside one.
        const QString cjk(200, QChar(0x6F22));
        const QString fitted = TrackName::fitFileName(cjk, ext, 246);
        QVERIFY(fitted.toUtf8().size() <= 246);
        QCOMPARE(fitted, QString(80, QChar(0x6F22)) + ext);
        // Four bytes a character, two UTF-16 units: never split a pair.
        QString clefs;
        for (int i = 0; i < 100; ++i)
            clefs += QString::fromUcs4(U"\U0001D11E");
        const QString fittedClefs = TrackName::fitFileName(clefs, ext, 246);
        QCOMPARE(fittedClefs.toUtf8().size(), 60 * 4 + 4);
        QVERIFY(!fittedClefs.toUtf8().contains('?'));
    }
};

QTEST_GUILESS_MAIN(TestTrackName)
#include "tst_trackname.moc"
