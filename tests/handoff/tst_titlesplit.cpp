#include <QTest>

#include "handoff/titlesplit.h"

using namespace Qt::StringLiterals;

namespace {

// The table shows a part the title does not name as "<none>".
QString shown(const std::optional<QString> &part)
{
    return part.value_or(QStringLiteral("<none>"));
}

} // namespace

class TestTitleSplit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void splitsAtSeparators_data()
    {
        QTest::addColumn<QString>("streamTitle");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("album");
        QTest::addColumn<QString>("title");
        const QString none = QStringLiteral("<none>");
        auto row = [](const char *name, const QString &streamTitle, const QString &artist,
                      const QString &album, const QString &title) {
            QTest::newRow(name) << streamTitle << artist << album << title;
        };
        row("artist and title", u"Artist - Title"_s, u"Artist"_s, none, u"Title"_s);
        row("track number dropped", u"01 - Artist - Album - Title"_s, u"Artist"_s, u"Album"_s,
            u"Title"_s);
        row("fourth piece unused", u"A - B - C - D"_s, u"A"_s, u"B"_s, u"C"_s);
        row("year in the middle dropped", u"Artist - 2004 - Song"_s, u"Artist"_s, none, u"Song"_s);
        row("start of", u"Start of Artist - Song"_s, u"Artist"_s, none, u"Start of Song"_s);
        row("end of", u"End of Artist - Song"_s, u"Artist"_s, none, u"End of Song"_s);
        row("start of end of", u"Start of End of A - B"_s, u"A"_s, none, u"Start of End of B"_s);
        row("end of start of: only the first mark", u"End of Start of A - B"_s, u"Start of A"_s,
            none, u"End of B"_s);
        row("digits only keep the whole title", u"1999"_s, none, none, u"1999"_s);
        row("digits only, blanks kept", u"Start of 1999 "_s, none, none, u"Start of 1999 "_s);
        row("separator first", u" - x"_s, none, none, u" - x"_s);
        row("empty", QString(), none, none, QString());
        row("mark alone", u"Start of "_s, none, none, u"Start of "_s);
        row("one piece is trimmed", u"  Only a title\t"_s, none, none, u"Only a title"_s);
        row("trailing separator", u"A - "_s, none, none, u"A"_s);
        row("separator after separator ends the scan", u"A -  - B"_s, none, none, u"A"_s);
        row("hyphen without blanks", u"Jay-Z -Title"_s, none, none, u"Jay-Z -Title"_s);
        row("tabs and no-break spaces trimmed", u"\tArtist\u00a0 - Title\t"_s, u"Artist"_s, none,
            u"Title"_s);
        row("line break is not trimmed", u"Artist - Title\n"_s, u"Artist"_s, none, u"Title\n"_s);
        row("non-Latin", u"Кино - Группа крови"_s, u"Кино"_s, none, u"Группа крови"_s);
        row("Arabic-Indic digits are digits", u"٢٠٠٤ - أغنية"_s, none, none, u"أغنية"_s);
        row("quotes and slashes", u"AC/DC - \"Back in Black\""_s, u"AC/DC"_s, none,
            u"\"Back in Black\""_s);
    }
    void splitsAtSeparators()
    {
        QFETCH(QString, streamTitle);
        QFETCH(QString, artist);
        QFETCH(QString, album);
        QFETCH(QString, title);
        const TitleSplit split = TitleSplit::fromTitle(streamTitle);
        QCOMPARE(shown(split.artist), artist);
        QCOMPARE(shown(split.album), album);
        QCOMPARE(split.title, title);
    }
};

QTEST_GUILESS_MAIN(TestTitleSplit)
#include "tst_titlesplit.moc"
