#include <QSet>
#include <QStringEncoder>
#include <QTest>

#include "platform/textencodings.h"

using namespace Qt::StringLiterals;

namespace {

constexpr quint32 macRoman = 0;
constexpr quint32 windowsLatin1 = 0x0500;
constexpr quint32 isoLatin1 = 0x0201;
constexpr quint32 isoLatin9 = 0x020F;
constexpr quint32 isoCyrillic = 0x0205;
constexpr quint32 isoGreek = 0x0207;
constexpr quint32 windowsCyrillic = 0x0502;
constexpr quint32 koi8r = 0x0A02;
constexpr quint32 shiftJis = 0x0A01;
constexpr quint32 eucJp = 0x0920;
constexpr quint32 gb18030 = 0x0632;
constexpr quint32 big5 = 0x0A03;
constexpr quint32 eucKr = 0x0940;
constexpr quint32 ascii = 0x0600;
constexpr quint32 utf16 = 0x0100;
constexpr quint32 utf16be = 0x10000100;
constexpr quint32 utf16le = 0x14000100;
constexpr quint32 utf32 = 0x0C000100;
constexpr quint32 utf32be = 0x18000100;
constexpr quint32 utf32le = 0x1C000100;

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

// "Radio 1" as an encoding's own bytes: ASCII for all but the UTF-16/32 forms.
QByteArray sampleFor(quint32 number)
{
    const QString text = QStringLiteral("Radio 1");
    switch (number) {
    case utf16:
    case utf16be:
        return QStringEncoder(QStringConverter::Utf16BE).encode(text);
    case utf16le:
        return QStringEncoder(QStringConverter::Utf16LE).encode(text);
    case utf32:
    case utf32be:
        return QStringEncoder(QStringConverter::Utf32BE).encode(text);
    case utf32le:
        return QStringEncoder(QStringConverter::Utf32LE).encode(text);
    default:
        return text.toLatin1();
    }
}

} // namespace

class TestTextEncodings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decode_data();
    void decode();
    void zeroBytesAreKept_data();
    void zeroBytesAreKept();
    void availableStartsWithUtf8();
    void availableEntriesAreDistinct();
    void availableOffersCommonEncodings();
    void everyAvailableEncodingDecodes();
};

void TestTextEncodings::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint32>("encoding");
    QTest::addColumn<QString>("expected");

    const quint32 utf8 = TextEncodings::utf8;
    QTest::newRow("empty") << QByteArray() << utf8 << QString();
    QTest::newRow("utf-8 ascii") << QByteArray("Artist - Title") << utf8 << u"Artist - Title"_s;
    QTest::newRow("utf-8 accents")
        << hex("436166c3a920e28094204dc3b674c3b6726865616421") << utf8 << u"Café — Mötörhead!"_s;
    QTest::newRow("utf-8 four bytes") << hex("f09f8eb5") << utf8 << u"\U0001F3B5"_s;
    QTest::newRow("utf-8 mark kept") << hex("efbbbf78") << utf8 << u"\uFEFFx"_s;
    QTest::newRow("iso latin 1") << hex("436166e9") << isoLatin1 << u"Café"_s;
    QTest::newRow("windows latin 1 euro") << hex("802035") << windowsLatin1 << u"€ 5"_s;
    QTest::newRow("iso latin 9 euro") << hex("a4") << isoLatin9 << u"€"_s;
    QTest::newRow("mac roman") << hex("8e") << macRoman << u"é"_s;
    QTest::newRow("windows-1251") << hex("cff0e8e2e5f2") << windowsCyrillic << u"Привет"_s;
    QTest::newRow("koi8-r") << hex("f0d2c9d7c5d4") << koi8r << u"Привет"_s;
    QTest::newRow("iso cyrillic") << hex("bfe0d8") << isoCyrillic << u"При"_s;
    QTest::newRow("iso greek") << hex("e1e2e3") << isoGreek << u"αβγ"_s;
    QTest::newRow("shift-jis") << hex("836583588367") << shiftJis << u"テスト"_s;
    QTest::newRow("euc-jp") << hex("a5c6a5b9a5c8") << eucJp << u"テスト"_s;
    QTest::newRow("gb 18030") << hex("d6d0cec4") << gb18030 << u"中文"_s;
    QTest::newRow("big 5") << hex("a4a4a4e5") << big5 << u"中文"_s;
    QTest::newRow("euc-kr") << hex("c7d1b1b9") << eucKr << u"한국"_s;
    QTest::newRow("utf-16 is big-endian") << hex("005200e9") << utf16 << u"Ré"_s;
    QTest::newRow("utf-16 mark kept") << hex("feff0041") << utf16 << u"\uFEFFA"_s;
    QTest::newRow("utf-16be") << hex("005200e9") << utf16be << u"Ré"_s;
    QTest::newRow("utf-16le") << hex("5200e900") << utf16le << u"Ré"_s;

    // Bytes the encoding does not accept: the whole text decodes as Latin-1.
    QTest::newRow("invalid utf-8") << hex("436166e9206175206c616974") << utf8 << u"Café au lait"_s;
    QTest::newRow("truncated utf-8") << hex("6162c3") << utf8 << u"ab\u00C3"_s;
    QTest::newRow("overlong utf-8") << hex("c0af") << utf8 << u"\u00C0\u00AF"_s;
    QTest::newRow("utf-8 surrogate") << hex("eda080") << utf8 << u"\u00ED\u00A0\u0080"_s;
    QTest::newRow("ascii high byte") << hex("636166e9") << ascii << u"café"_s;
    QTest::newRow("truncated shift-jis") << hex("4183") << shiftJis << u"A\u0083"_s;
    QTest::newRow("windows latin 1 unassigned") << hex("4181") << windowsLatin1 << u"A\u0081"_s;
    QTest::newRow("odd utf-16le") << hex("410042") << utf16le << QString::fromUtf16(u"A\0B", 3);
    QTest::newRow("unknown number") << hex("e974e9") << quint32(12345) << u"été"_s;
}

void TestTextEncodings::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint32, encoding);
    QFETCH(QString, expected);
    QCOMPARE(TextEncodings::decode(bytes, encoding), expected);
}

void TestTextEncodings::zeroBytesAreKept_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint32>("encoding");
    QTest::addColumn<QString>("expected");

    QTest::newRow("utf-8") << hex("610062") << TextEncodings::utf8
                           << QString::fromUtf16(u"a\0b", 3);
    QTest::newRow("utf-8 fallback")
        << hex("00ff00") << TextEncodings::utf8 << QString::fromUtf16(u"\0\u00FF\0", 3);
    QTest::newRow("windows-1251") << hex("cf00f0") << windowsCyrillic
                                  << QString::fromUtf16(u"П\0р", 3);
    QTest::newRow("only zeros") << hex("0000") << isoLatin1 << QString::fromUtf16(u"\0\0", 2);
}

void TestTextEncodings::zeroBytesAreKept()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint32, encoding);
    QFETCH(QString, expected);
    const QString decoded = TextEncodings::decode(bytes, encoding);
    QCOMPARE(decoded.size(), expected.size());
    QCOMPARE(decoded, expected);
}

void TestTextEncodings::availableStartsWithUtf8()
{
    const QList<TextEncodings::Encoding> &encodings = TextEncodings::available();
    QVERIFY(!encodings.isEmpty());
    QCOMPARE(encodings.first().number, TextEncodings::utf8);
    QVERIFY(encodings.first().displayName.contains(u"UTF-8"));
}

void TestTextEncodings::availableEntriesAreDistinct()
{
    QSet<quint32> numbers;
    QSet<QString> names;
    for (const TextEncodings::Encoding &encoding : TextEncodings::available()) {
        QVERIFY2(!encoding.displayName.isEmpty(), qPrintable(QString::number(encoding.number)));
        QVERIFY2(!numbers.contains(encoding.number), qPrintable(encoding.displayName));
        QVERIFY2(!names.contains(encoding.displayName), qPrintable(encoding.displayName));
        numbers.insert(encoding.number);
        names.insert(encoding.displayName);
    }
}

void TestTextEncodings::availableOffersCommonEncodings()
{
    QSet<quint32> numbers;
    for (const TextEncodings::Encoding &encoding : TextEncodings::available())
        numbers.insert(encoding.number);
    const quint32 expected[] = {macRoman, windowsLatin1, isoLatin1, 0x0202,          isoCyrillic,
                                isoGreek, isoLatin9,     0x0501,    windowsCyrillic, 0x0503,
                                0x0504,   koi8r,         shiftJis,  eucJp,           gb18030,
                                big5,     eucKr,         utf16,     utf16be,         utf16le,
                                ascii};
    for (const quint32 number : expected)
        QVERIFY2(numbers.contains(number), qPrintable(QString::number(number, 16)));
}

void TestTextEncodings::everyAvailableEncodingDecodes()
{
    for (const TextEncodings::Encoding &encoding : TextEncodings::available()) {
        QCOMPARE(TextEncodings::decode(sampleFor(encoding.number), encoding.number), u"Radio 1"_s);
    }
}

QTEST_GUILESS_MAIN(TestTextEncodings)
#include "tst_textencodings.moc"
