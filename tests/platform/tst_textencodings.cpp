#include <QHash>
#include <QSet>
#include <QStringEncoder>
#include <QTest>

#include "platform/textencodings.h"

using namespace Qt::StringLiterals;

namespace {

// "Radio 1" in an encoding's own bytes: ASCII for all but the UTF-16/32 forms.
QByteArray sampleFor(quint32 number)
{
    static const QHash<quint32, QStringConverter::Encoding> wide = {
        {0x0100, QStringConverter::Utf16BE},     {0x10000100, QStringConverter::Utf16BE},
        {0x14000100, QStringConverter::Utf16LE}, {0x0C000100, QStringConverter::Utf32BE},
        {0x18000100, QStringConverter::Utf32BE}, {0x1C000100, QStringConverter::Utf32LE}};
    const QString text = u"Radio 1"_s;
    return wide.contains(number) ? QByteArray(QStringEncoder(wide[number]).encode(text))
                                 : text.toLatin1();
}

} // namespace

class TestTextEncodings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Encodings by their stored numbers. Bytes the encoding does not accept, or
    // an unknown number, decode as Latin-1; zero bytes are kept either way.
    void decode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<quint32>("encoding");
        QTest::addColumn<QString>("expected");
        const quint32 utf8 = TextEncodings::utf8;
        auto row = [](const char *name, const char *digits, quint32 encoding,
                      const QString &expected) {
            QTest::newRow(name) << QByteArray::fromHex(digits) << encoding << expected;
        };
        row("empty", "", utf8, QString());
        row("utf-8", "436166c3a920e28094204dc3b674c3b6726865616421", utf8, u"Café — Mötörhead!"_s);
        row("utf-8 four bytes", "f09f8eb5", utf8, u"\U0001F3B5"_s);
        row("utf-8 mark kept", "efbbbf78", utf8, u"\uFEFFx"_s);
        row("iso latin 1", "436166e9", 0x0201, u"Café"_s);
        row("windows latin 1 euro", "802035", 0x0500, u"€ 5"_s);
        row("iso latin 2", "a3f364bc", 0x0202, u"Łódź"_s);
        row("windows central european", "a3f3649f", 0x0501, u"Łódź"_s);
        row("windows greek", "e1e2e3", 0x0503, u"αβγ"_s);
        row("windows turkish", "fef0fd", 0x0504, u"şğı"_s);
        row("iso latin 9 euro", "a4", 0x020F, u"€"_s);
        row("mac roman", "8e", 0, u"é"_s);
        row("windows-1251", "cff0e8e2e5f2", 0x0502, u"Привет"_s);
        row("koi8-r", "f0d2c9d7c5d4", 0x0A02, u"Привет"_s);
        row("iso cyrillic", "bfe0d8", 0x0205, u"При"_s);
        row("iso greek", "e1e2e3", 0x0207, u"αβγ"_s);
        row("shift-jis", "836583588367", 0x0A01, u"テスト"_s);
        row("euc-jp", "a5c6a5b9a5c8", 0x0920, u"テスト"_s);
        row("gb 18030", "d6d0cec4", 0x0632, u"中文"_s);
        row("big 5", "a4a4a4e5", 0x0A03, u"中文"_s);
        row("euc-kr", "c7d1b1b9", 0x0940, u"한국"_s);
        row("utf-16 is big-endian", "005200e9", 0x0100, u"Ré"_s);
        row("utf-16 mark kept", "feff0041", 0x0100, u"\uFEFFA"_s);
        row("utf-16be", "005200e9", 0x10000100, u"Ré"_s);
        row("utf-16le", "5200e900", 0x14000100, u"Ré"_s);
        row("invalid utf-8", "436166e9206175206c616974", utf8, u"Café au lait"_s);
        row("truncated utf-8", "6162c3", utf8, u"ab\u00C3"_s);
        row("overlong utf-8", "c0af", utf8, u"\u00C0\u00AF"_s);
        row("utf-8 surrogate", "eda080", utf8, u"\u00ED\u00A0\u0080"_s);
        row("ascii high byte", "636166e9", 0x0600, u"café"_s);
        row("truncated shift-jis", "4183", 0x0A01, u"A\u0083"_s);
        row("windows latin 1 unassigned", "4181", 0x0500, u"A\u0081"_s);
        row("unknown number", "e974e9", 12345, u"été"_s);
        row("utf-8 zero byte", "610062", utf8, QString::fromUtf16(u"a\0b", 3));
        row("fallback zero bytes", "00ff00", utf8, QString::fromUtf16(u"\0\u00FF\0", 3));
        row("windows-1251 zero byte", "cf00f0", 0x0502, QString::fromUtf16(u"П\0р", 3));
        row("odd utf-16le", "410042", 0x14000100, QString::fromUtf16(u"A\0B", 3));
    }
    void decode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(quint32, encoding);
        QFETCH(QString, expected);
        QCOMPARE(TextEncodings::decode(bytes, encoding), expected);
    }

    // UTF-8 first; every entry named, distinct, and decoding its own bytes.
    void availableEncodingsAllDecode()
    {
        const QList<TextEncodings::Encoding> &encodings = TextEncodings::available();
        QVERIFY(!encodings.isEmpty() && encodings.first().displayName.contains(u"UTF-8"));
        QCOMPARE(encodings.first().number, TextEncodings::utf8);
        QSet<quint32> numbers;
        QSet<QString> names;
        for (const TextEncodings::Encoding &encoding : encodings) {
            numbers.insert(encoding.number);
            names.insert(encoding.displayName);
            const QString decoded =
                TextEncodings::decode(sampleFor(encoding.number), encoding.number);
            QVERIFY2(!encoding.displayName.isEmpty() && decoded == u"Radio 1"_s,
                     qPrintable(QString::number(encoding.number, 16) + u' ' + decoded));
        }
        QCOMPARE(numbers.size(), encodings.size());
        QCOMPARE(names.size(), encodings.size());
    }
};

QTEST_GUILESS_MAIN(TestTextEncodings)
#include "tst_textencodings.moc"
