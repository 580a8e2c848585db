#include "platform/textencodings.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_map>

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

namespace TextEncodings {
namespace {

struct ConverterDeleter
{
    void operator()(UConverter *converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterDeleter>;

struct TableEntry
{
    quint32 number;
    const char *converter; // ICU name or alias
    const char16_t *displayName;
};

// The encodings Skyvane offers, by the numbers stored recordings keep, in menu
// order. UTF-16 and UTF-32 without a byte order take the big-endian form, and a
// byte-order mark is an ordinary character: titles are decoded byte for byte.
constexpr TableEntry table[] = {
    {utf8, "UTF-8", u"Unicode (UTF-8)"},
    {0x0000, "macintosh", u"Western (Mac OS Roman)"},
    {0x0500, "windows-1252", u"Western (Windows Latin 1)"},
    {0x0201, "ISO-8859-1", u"Western (ISO Latin 1)"},
    {0x020F, "ISO-8859-15", u"Western (ISO Latin 9)"},
    {0x0600, "US-ASCII", u"Western (ASCII)"},
    {0x0410, "ibm-850", u"Western (DOS Latin 1)"},
    {0x0400, "ibm-437", u"Latin-US (DOS)"},
    {0x0202, "ISO-8859-2", u"Central European (ISO Latin 2)"},
    {0x0501, "windows-1250", u"Central European (Windows Latin 2)"},
    {29, "x-mac-centraleurroman", u"Central European (Mac OS)"},
    {0x0412, "ibm-852", u"Central European (DOS Latin 2)"},
    {0x0204, "ISO-8859-4", u"Central European (ISO Latin 4)"},
    {0x0203, "ISO-8859-3", u"South European (ISO Latin 3)"},
    {0x0210, "ISO-8859-16", u"Romanian (ISO Latin 10)"},
    {0x0205, "ISO-8859-5", u"Cyrillic (ISO 8859-5)"},
    {0x0502, "windows-1251", u"Cyrillic (Windows)"},
    {0x0A02, "KOI8-R", u"Cyrillic (KOI8-R)"},
    {0x0A08, "KOI8-U", u"Ukrainian (KOI8-U)"},
    {7, "x-mac-cyrillic", u"Cyrillic (Mac OS)"},
    {0x041B, "ibm-866", u"Cyrillic (DOS)"},
    {0x0207, "ISO-8859-7", u"Greek (ISO 8859-7)"},
    {0x0503, "windows-1253", u"Greek (Windows)"},
    {6, "x-mac-greek", u"Greek (Mac OS)"},
    {0x0209, "ISO-8859-9", u"Turkish (ISO Latin 5)"},
    {0x0504, "windows-1254", u"Turkish (Windows Latin 5)"},
    {35, "x-mac-turkish", u"Turkish (Mac OS)"},
    {0x020D, "ISO-8859-13", u"Baltic (ISO Latin 7)"},
    {0x0507, "windows-1257", u"Baltic (Windows)"},
    {0x020A, "ISO-8859-10", u"Nordic (ISO Latin 6)"},
    {0x020E, "ISO-8859-14", u"Celtic (ISO Latin 8)"},
    {0x0208, "ISO-8859-8", u"Hebrew (ISO 8859-8)"},
    {0x0505, "windows-1255", u"Hebrew (Windows)"},
    {0x0206, "ISO-8859-6", u"Arabic (ISO 8859-6)"},
    {0x0506, "windows-1256", u"Arabic (Windows)"},
    {0x020B, "ISO-8859-11", u"Thai (ISO 8859-11)"},
    {0x041D, "windows-874", u"Thai (Windows, DOS)"},
    {0x0508, "windows-1258", u"Vietnamese (Windows)"},
    {0x0A01, "Shift_JIS", u"Japanese (Shift JIS)"},
    {0x0420, "windows-31j", u"Japanese (Windows, DOS)"},
    {0x0920, "EUC-JP", u"Japanese (EUC)"},
    {0x0820, "ISO-2022-JP", u"Japanese (ISO 2022-JP)"},
    {0x0632, "GB18030", u"Simplified Chinese (GB 18030)"},
    {0x0631, "GBK", u"Simplified Chinese (GBK)"},
    {0x0421, "windows-936", u"Simplified Chinese (Windows, DOS)"},
    {0x0930, "EUC-CN", u"Simplified Chinese (GB 2312)"},
    {0x0A05, "HZ", u"Simplified Chinese (HZ GB 2312)"},
    {0x0A03, "Big5", u"Traditional Chinese (Big 5)"},
    {0x0A06, "Big5-HKSCS", u"Traditional Chinese (Big 5 HKSCS)"},
    {0x0423, "windows-950", u"Traditional Chinese (Windows, DOS)"},
    {0x0940, "EUC-KR", u"Korean (EUC)"},
    {0x0422, "windows-949", u"Korean (Windows, DOS)"},
    {0x0840, "ISO-2022-KR", u"Korean (ISO 2022-KR)"},
    {0x0100, "UTF-16BE", u"Unicode (UTF-16)"},
    {0x10000100, "UTF-16BE", u"Unicode (UTF-16BE)"},
    {0x14000100, "UTF-16LE", u"Unicode (UTF-16LE)"},
    {0x0C000100, "UTF-32BE", u"Unicode (UTF-32)"},
    {0x18000100, "UTF-32BE", u"Unicode (UTF-32BE)"},
    {0x1C000100, "UTF-32LE", u"Unicode (UTF-32LE)"},
};

const TableEntry *entryFor(quint32 number)
{
    const auto found = std::find_if(std::begin(table), std::end(table),
                                    [number](const TableEntry &e) { return e.number == number; });
    return found == std::end(table) ? nullptr : found;
}

// A converter that stops at the first byte sequence that is not valid in its
// encoding instead of substituting a replacement character.
ConverterPtr openConverter(const char *name)
{
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(name, &status));
    if (!converter) // ICU returns none whenever it fails; a warning comes with a usable one
        return nullptr;
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
    return U_FAILURE(status) ? nullptr : std::move(converter);
}

// Opening a converter costs far more than a title's decoding, so each thread
// keeps the ones it used; nullptr remembers a name ICU cannot open.
UConverter *converterFor(quint32 number)
{
    thread_local std::unordered_map<quint32, ConverterPtr> cache;
    const auto cached = cache.find(number);
    if (cached != cache.end())
        return cached->second.get();
    const TableEntry *const entry = entryFor(number);
    ConverterPtr converter = entry ? openConverter(entry->converter) : nullptr;
    return cache.emplace(number, std::move(converter)).first->second.get();
}

std::optional<QString> decodeWith(UConverter *converter, QByteArrayView bytes)
{
    ucnv_reset(converter); // a stateful encoding starts afresh for every text
    const char *source = bytes.data();
    const char *const sourceLimit = source + bytes.size();
    QString text(bytes.size() + 1, Qt::Uninitialized);
    qsizetype produced = 0;
    for (;;) {
        auto *const begin = reinterpret_cast<UChar *>(text.data());
        UChar *target = begin + produced;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(converter, &target, begin + text.size(), &source, sourceLimit, nullptr, true,
                       &status);
        produced = target - begin;
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            text.resize(text.size() * 2);
            continue;
        }
        if (U_FAILURE(status))
            return std::nullopt;
        text.truncate(produced);
        return text;
    }
}

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

const QList<Encoding> &available()
{
    static const QList<Encoding> encodings = [] {
        QList<Encoding> list;
        for (const TableEntry &entry : table) {
            if (openConverter(entry.converter))
                list.append({entry.number, QString::fromUtf16(entry.displayName)});
        }
        return list;
    }();
    return encodings;
}

QString decode(QByteArrayView bytes, quint32 encodingNumber)
{
    if (bytes.isEmpty())
        return {};
    if (encodingNumber == utf8 && isAscii(bytes))
        return QString::fromLatin1(bytes);
    if (UConverter *const converter = converterFor(encodingNumber)) {
        if (std::optional<QString> text = decodeWith(converter, bytes))
            return *std::move(text);
    }
    return QString::fromLatin1(bytes); // every byte is a Latin-1 character
}

} // namespace TextEncodings
