#include <QTest>

#include "platform/textencodings.h"
#include "testmain.h"

using namespace Qt::StringLiterals;

class TestTextEncodings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // By the stored numbers. Bytes the encoding does not accept, or an unknown
    // number, decode as ISO-8859-1; byte-order marks and zero bytes are kept.
    void decode_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<quint32>("encoding");
        QTest::addColumn<QString>("expected");
        QTest::newRow("utf-8") << "efbbbf00f09f8eb5"_ba << TextEncodings::utf8 << u"\uFEFF\0🎵"_s;
        QTest::newRow("windows latin 1") << "80002035"_ba << 0x0500u << u"€\0 5"_s;
        QTest::newRow("one byte") << "80"_ba << 0x0500u << u"€"_s;
        QTest::newRow("utf-16 big-endian, mark") << "feff005200e9"_ba << 0x0100u << u"\uFEFFRé"_s;
        QTest::newRow("cut utf-8") << "0061c3"_ba << TextEncodings::utf8 << u"\0a\u00C3"_s;
        QTest::newRow("unknown number") << "e974e9"_ba << 12345u << u"été"_s;

        QTest::newRow("utf-16 little-endian") << "52006100"_ba << 0x14000100u << u"Ra"_s;
        // UTF-8 leads the menu, and the table's converters open here.
        const QList<TextEncodings::Encoding> &offered = TextEncodings::available();
        QVERIFY(offered.value(0).number == TextEncodings::utf8 && offered.size() > 40);
    }
    void decode()
    {
        QFETCH(QByteArray, hex);
        QFETCH(quint32, encoding);
        QFETCH(QString, expected);
        QCOMPARE(TextEncodings::decode(QByteArray::fromHex(hex), encoding), expected);
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestTextEncodings)
#include "tst_textencodings.moc"
