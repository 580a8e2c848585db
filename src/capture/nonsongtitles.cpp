#include "capture/nonsongtitles.h"

#include <optional>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// Whole titles, or one half of "Artist - Title", rather than a word anywhere
// in a title: "Jingle Bells", "Advertising Space" and The Adverts are songs.
const QString defaultFile = QStringLiteral(
    "# Titles whose audio Skyvane never keeps as a song: advertising, station\n"
    "# jingles, titles that name nothing. One pattern a line, matched against the\n"
    "# whole stream title with letter case ignored: \"*\" stands for any text, \"?\"\n"
    "# for one character, [abc] for one of a, b or c. Spaces at either end of a\n"
    "# line or a title do not count, so \"-\" also catches \" - \". Lines starting\n"
    "# with \"#\" are skipped; an empty title is never kept as a song. Skyvane reads\n"
    "# this file when a recording starts.\n"
    "-\n"
    "advert\n"
    "* - advert\n"
    "*advertisement*\n"
    "commercial\n"
    "* - commercial\n"
    "*commercial break*\n"
    "*werbung*\n"
    "*publicité*\n"
    "*publicidad*\n"
    "*pubblicità*\n"
    "jingle\n"
    "* - jingle\n"
    "station id\n"
    "* - station id\n");

// Qt's "*" and "?" stop at "/", as in a file path; a title is no path, so its
// slashes and the pattern's are matched as another character.
QString withoutSlashes(QStringView text)
{
    return text.toString().replace(u'/', QChar(0xfdd0));
}

} // namespace

// Every capture reads the file as it begins. Its compiled patterns take some
// 70 KB, so captures share one reading of the same text: copies of a
// QRegularExpression share what it compiled.
NonSongTitles NonSongTitles::fromText(QStringView text, QString *problem)
{
    struct Reading
    {
        QString text;
        NonSongTitles titles;
        QString problem;
    };
    thread_local std::optional<Reading> last;
    if (!last || last->text != text) {
        last.emplace();
        last->text = text.toString();
        last->titles = compile(text, &last->problem);
    }
    if (problem && !last->problem.isEmpty())
        *problem = last->problem;
    return last->titles;
}

NonSongTitles NonSongTitles::compile(QStringView text, QString *problem)
{
    NonSongTitles titles;
    const QList<QStringView> lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringView line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        QRegularExpression pattern(
            QRegularExpression::wildcardToRegularExpression(withoutSlashes(line)),
            QRegularExpression::CaseInsensitiveOption);
        if (pattern.isValid())
            titles.m_patterns.append(pattern);
        else if (problem->isEmpty())
            *problem = QStringLiteral("%1, line %2: \u201c%3\u201d is not a pattern and is skipped")
                           .arg(path())
                           .arg(i + 1)
                           .arg(line);
    }
    return titles;
}

QString NonSongTitles::path()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/skyvane/non-song-titles.txt");
}

NonSongTitles NonSongTitles::load(QString *problem)
{
    const QString file = path();
    QString failure;
    if (QFileInfo::exists(file)) {
        QFile input(file);
        if (input.open(QIODevice::ReadOnly))
            return fromText(QString::fromUtf8(input.readAll()), problem);
        failure = QStringLiteral("Could not read %1 (%2)").arg(file, input.errorString());
    } else {
        QDir().mkpath(QFileInfo(file).path());
        QSaveFile output(file);
        const QByteArray text = defaultFile.toUtf8();
        if (!output.open(QIODevice::WriteOnly) || output.write(text) != text.size() ||
            !output.commit())
            failure = QStringLiteral("Could not write %1 (%2)").arg(file, output.errorString());
    }
    if (problem && !failure.isEmpty())
        *problem = failure + QStringLiteral(": the default non-song titles apply");
    return fromText(defaultFile);
}

bool NonSongTitles::matches(const QString &title) const
{
    const QString trimmed = withoutSlashes(QStringView(title).trimmed());
    if (trimmed.isEmpty())
        return true;
    for (const QRegularExpression &pattern : m_patterns) {
        if (pattern.match(trimmed).hasMatch())
            return true;
    }
    return false;
}
