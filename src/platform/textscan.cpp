#include "platform/textscan.h"

#include <limits>

namespace TextScan {

bool isInlineWhitespace(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString trimInlineWhitespace(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isInlineWhitespace(text[begin]))
        ++begin;
    while (end > begin && isInlineWhitespace(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin).toString();
}

namespace {
qsizetype skipLeadingSpace(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    return i;
}
} // namespace

qint32 leadingInt(QStringView text)
{
    qsizetype i = skipLeadingSpace(text);
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 value = 0;
    constexpr qint64 limit = qint64(std::numeric_limits<qint32>::max()) + 1;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > limit)
            value = limit;
    }
    if (negative)
        return qint32(-value);
    return value >= limit ? std::numeric_limits<qint32>::max() : qint32(value);
}

qint32 metaInterval(QStringView text)
{
    const qint32 interval = leadingInt(text);
    return interval == 0 ? -1 : interval;
}

QString escapeControls(QStringView text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const auto hex = [u](int digits) {
            return QString::number(u, 16).toUpper().rightJustified(digits, u'0');
        };
        if ((u < 0x20 && u != u'\t') || u == 0x7f)
            escaped += QStringLiteral("\\x") + hex(2);
        else if ((u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029)
            escaped += QStringLiteral("\\u") + hex(4);
        else
            escaped += c;
    }
    return escaped;
}

QString mediaType(QStringView contentType)
{
    const qsizetype end = contentType.indexOf(u';');
    return (end < 0 ? contentType : contentType.first(end)).trimmed().toString().toLower();
}

QString twoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QChar(u'0'));
}

} // namespace TextScan
