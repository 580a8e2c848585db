#include <QHash>
#include <QSet>
#include <QStringEncoder>
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
        QTest::newRow("utf-16 big-endian, mark") << "feff005200e9"_ba << 0x0100u << u"\uFEFFRé"_s;
        QTest::newRow("cut utf-8") << "0061c3"_ba << TextEncodings::utf8 << u"\0a\u00C3"_s;
        QTest::newRow("unknown number") << "e974e9"_ba << 12345u << u"été"_s;

        // Every offered encoding, UTF-8 first and each number and name once,
        // decodes "Radio 1" in its own bytes: ASCII but for UTF-16 and UTF-32.
        using E = QStringConverter::Encoding;
        const QHash<quint32, E> wide = {{0x0100, E::Utf16BE},     {0x10000100, E::Utf16BE},
                                        {0x14000100, E::Utf16LE}, {0x0C000100, E::Utf32BE},
                                        {0x18000100, E::Utf32BE}, {0x1C000100, E::Utf32LE}};
        const QList<TextEncodings::Encoding> &offered = TextEncodings::available();
        QSet<QString> seen;
        for (const auto &[number, name] : offered) {
            seen << QString::number(number) << name;
            const QByteArray bytes = QStringEncoder(wide.value(number, E::Latin1))(u"Radio 1"_s);
            QTest::newRow(qPrintable(name)) << bytes.toHex() << number << u"Radio 1"_s;
        }
        QVERIFY(offered.value(0).number == TextEncodings::utf8 &&
                seen.size() == 2 * offered.size());
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
