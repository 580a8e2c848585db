#include "handoff/titlesplit.h"

#include <QList>

#include "platform/textscan.h"

namespace {

constexpr QStringView startMark = u"Start of ";
constexpr QStringView endMark = u"End of ";
constexpr QStringView separator = u" - ";
constexpr qsizetype maxPieces = 3;

// A piece of digits only is a track number or a year, not a name.
bool namesSomething(const QString &piece)
{
    for (const char32_t c : QStringView(piece).toUcs4()) {
        if (!QChar::isDigit(c))
            return true;
    }
    return false;
}

// The named pieces between " - " separators, at most three. Scanning stops at
// a separator with nothing before it: what follows is not a name any more.
QList<QString> namedPieces(QStringView text)
{
    QList<QString> pieces;
    qsizetype position = 0;
    while (position < text.size() && pieces.size() < maxPieces) {
        qsizetype next = text.indexOf(separator, position);
        if (next == position)
            break;
        if (next < 0)
            next = text.size();
        const QString piece =
            TextScan::trimInlineWhitespace(text.sliced(position, next - position));
        position = next < text.size() ? next + separator.size() : next;
        if (namesSomething(piece))
            pieces.append(piece);
    }
    return pieces;
}

} // namespace

TitleSplit TitleSplit::fromTitle(QStringView streamTitle)
{
    QString prefix;
    QStringView rest = streamTitle;
    for (const QStringView mark : {startMark, endMark}) {
        // A song cut at both ends carries "Start of " then "End of ", in that order.
        if (rest.startsWith(mark)) {
            prefix += mark;
            rest = rest.sliced(mark.size());
        }
    }

    TitleSplit split;
    const QList<QString> pieces = namedPieces(rest);
    switch (pieces.size()) {
    case 0:
        split.title = rest.toString();
        break;
    case 1:
        split.title = pieces[0];
        break;
    case 2:
        split.artist = pieces[0];
        split.title = pieces[1];
        break;
    default:
        split.artist = pieces[0];
        split.album = pieces[1];
        split.title = pieces[2];
        break;
    }
    split.title.prepend(prefix);
    return split;
}
