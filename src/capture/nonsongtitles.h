#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringView>

// Stream titles whose audio is never kept as a song: advertising, station
// jingles, a title that names nothing. The user keeps them in a plain text
// file, one wildcard pattern a line ("*" any text, "?" one character, [abc]
// one of these), matched against the whole title, letter case ignored; lines
// starting with "#" and blank lines are skipped. The empty title is never a
// song, whatever the file says.
class NonSongTitles
{
public:
    // Reads the file. Where there is none, the defaults apply and the file is
    // written with them, explained, for the user to find and edit. A file that
    // cannot be read or written leaves the defaults; a line that is no pattern
    // is skipped. Then `problem` says so in a line for the log (without its
    // line break).
    static NonSongTitles load(QString *problem = nullptr);
    // non-song-titles.txt in "skyvane" of the user's configuration folder.
    static QString path();

    // Spaces at the ends of the title do not count.
    bool matches(const QString &title) const;

private:
    static NonSongTitles fromText(QStringView text, QString *problem = nullptr);
    static NonSongTitles compile(QStringView text, QString *problem);

    QList<QRegularExpression> m_patterns;
};
