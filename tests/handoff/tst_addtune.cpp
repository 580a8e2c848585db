#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/vorbisfile.h>

#include "audiofiles.h"
#include "handoff/scriptrunner.h"

using namespace Qt::StringLiterals;

namespace {

QString fromTagLib(const TagLib::String &text)
{
    return QString::fromStdString(text.to8Bit(true));
}

// A title with everything that must reach tags and playlist unharmed.
const QString trickyTitle = u"Song \"quoted\" / 'slashed'\nsecond line – 日本語 🎵"_s;

} // namespace

// The shipped addTune.lua, run as Skyvane runs it, on real files.
class TestAddTune : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    ScriptRunner m_runner;
    QString m_error;

    QString musicFolder() const { return m_home.filePath(u"Music"_s); }
    QString playlistFile(const QString &name) const
    {
        return musicFolder() + u"/Playlists/"_s + name + u".m3u8"_s;
    }

    QString writeTrack(const QString &name, const QByteArray &bytes)
    {
        QDir().mkpath(musicFolder() + u"/Skyvane"_s);
        const QString path = musicFolder() + u"/Skyvane/"_s + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write a test track");
        return path;
    }

    bool addTune(const QString &path, const QString &playlist, const QString &title,
                 const QString &artist = u"Artist"_s, qint64 count = 1000)
    {
        const auto result = m_runner.callHandler(
            u"add_tune"_s, {path, playlist, title, u"Альбом"_s, artist, u"Jazz/Funk"_s, count},
            m_error);
        return result.has_value();
    }

    static QStringList linesOf(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {u"<unreadable>"_s};
        QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        if (lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u".local/share"_s)));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u".config"_s)));
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::MusicLocation), musicFolder());
        QVERIFY2(
            m_runner.loadFile(QStringLiteral(SKYVANE_SOURCE_RESOURCES "/addTune.lua"), m_error),
            qPrintable(m_error));
    }

    void init() { QVERIFY(QDir(musicFolder()).removeRecursively()); }

    void tagsMp3WithId3v24()
    {
        const QString path = writeTrack(u"Song – 日本語.mp3"_s, AudioFiles::mp3());
        QVERIFY2(addTune(path, u"My Skyvane Recordings"_s, trickyTitle, u"Art \"Q\""_s),
                 qPrintable(m_error));

        TagLib::MPEG::File file(QFile::encodeName(path).constData());
        QVERIFY(file.isValid());
        QVERIFY(file.hasID3v2Tag());
        QVERIFY(!file.hasID3v1Tag());
        QCOMPARE(file.ID3v2Tag()->header()->majorVersion(), 4u);
        const TagLib::Tag *tag = file.ID3v2Tag();
        QCOMPARE(fromTagLib(tag->title()), trickyTitle);
        QCOMPARE(fromTagLib(tag->album()), u"Альбом"_s);
        QCOMPARE(fromTagLib(tag->artist()), u"Art \"Q\""_s);
        QCOMPARE(fromTagLib(tag->genre()), u"Jazz/Funk"_s);

        const QString shownTitle = QString(trickyTitle).replace(u'\n', u' ');
        QCOMPARE(linesOf(playlistFile(u"My Skyvane Recordings"_s)),
                 QStringList({u"#EXTM3U"_s, u"#EXTINF:-1,Art \"Q\" - "_s + shownTitle, path}));
    }

    void tagsOggVorbisWithComments()
    {
        const QString path = writeTrack(u"Stream.ogg"_s, AudioFiles::oggVorbis());
        QVERIFY(TagLib::Ogg::Vorbis::File(QFile::encodeName(path).constData()).isValid());
        QVERIFY2(addTune(path, u"Ogg"_s, trickyTitle), qPrintable(m_error));

        TagLib::Ogg::Vorbis::File file(QFile::encodeName(path).constData());
        QVERIFY(file.isValid());
        const TagLib::Ogg::FieldListMap fields = file.tag()->fieldListMap();
        QCOMPARE(fromTagLib(fields["TITLE"].front()), trickyTitle);
        QCOMPARE(fromTagLib(fields["ALBUM"].front()), u"Альбом"_s);
        QCOMPARE(fromTagLib(fields["ARTIST"].front()), u"Artist"_s);
        QCOMPARE(fromTagLib(fields["GENRE"].front()), u"Jazz/Funk"_s);
        QCOMPARE(linesOf(playlistFile(u"Ogg"_s)).last(), path);
    }

    void listsFormatsWithoutTags()
    {
        const QByteArray bytes(5000, '\x5a');
        const QString path = writeTrack(u"Stream.nsv"_s, bytes);
        QVERIFY2(addTune(path, u"Raw"_s, u"Title"_s, QString()), qPrintable(m_error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), bytes);
        QCOMPARE(linesOf(playlistFile(u"Raw"_s)),
                 QStringList({u"#EXTM3U"_s, u"#EXTINF:-1,Title"_s, path}));
    }

    void keepsTheNewestEntries_data()
    {
        QTest::addColumn<int>("tracks");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("firstKept"); // tracks from this one on stay listed
        QTest::newRow("three of five") << 5 << 3 << 3;
        QTest::newRow("one") << 4 << 1 << 4;
        QTest::newRow("none") << 2 << 0 << 3;
        QTest::newRow("room for all") << 4 << 10 << 1;
        QTest::newRow("unlimited") << 6 << 1048576 << 1;
    }
    void keepsTheNewestEntries()
    {
        QFETCH(int, tracks);
        QFETCH(int, count);
        QFETCH(int, firstKept);
        QStringList expected{u"#EXTM3U"_s};
        for (int i = 1; i <= tracks; ++i) {
            const QString title = u"Track %1"_s.arg(i);
            const QString path = writeTrack(title + u".mp3"_s, AudioFiles::mp3());
            QVERIFY2(addTune(path, u"Limited"_s, title, QString(), count), qPrintable(m_error));
            if (i >= firstKept)
                expected << u"#EXTINF:-1,"_s + title << path;
        }
        QCOMPARE(linesOf(playlistFile(u"Limited"_s)), expected);
        QVERIFY(QFile::exists(musicFolder() + u"/Skyvane/Track 1.mp3"_s));
    }

    void readdingMovesAnEntryToTheEnd()
    {
        const QString first = writeTrack(u"a.mp3"_s, AudioFiles::mp3());
        const QString second = writeTrack(u"b.mp3"_s, AudioFiles::mp3());
        QVERIFY(addTune(first, u"Again"_s, u"A"_s, QString()));
        QVERIFY(addTune(second, u"Again"_s, u"B"_s, QString()));
        QVERIFY(addTune(first, u"Again"_s, u"A2"_s, QString()));
        QCOMPARE(linesOf(playlistFile(u"Again"_s)),
                 QStringList({u"#EXTM3U"_s, u"#EXTINF:-1,B"_s, second, u"#EXTINF:-1,A2"_s, first}));
    }

    void keepsEntriesOfAnExistingPlaylist()
    {
        QVERIFY(QDir().mkpath(musicFolder() + u"/Playlists"_s));
        QFile old(playlistFile(u"Old"_s));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("#EXTM3U\r\n#PLAYLIST:Old\r\n/old/one.mp3\r\n\r\n"
                  "#EXTINF:123,Old - Two\r\n/old/two.mp3\r\n");
        old.close();
        const QString path = writeTrack(u"new.mp3"_s, AudioFiles::mp3());
        QVERIFY2(addTune(path, u"Old"_s, u"New"_s), qPrintable(m_error));
        QCOMPARE(linesOf(playlistFile(u"Old"_s)),
                 QStringList({u"#EXTM3U"_s, u"/old/one.mp3"_s, u"#EXTINF:123,Old - Two"_s,
                              u"/old/two.mp3"_s, u"#EXTINF:-1,Artist - New"_s, path}));
    }

    void namesPlaylistFilesSafely_data()
    {
        QTest::addColumn<QString>("playlist");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("slash") << u"AC/DC: Live"_s << u"AC_DC: Live.m3u8"_s;
        QTest::newRow("line break") << u"a\nb"_s << u"a_b.m3u8"_s;
        QTest::newRow("dot") << u"."_s << u"_.m3u8"_s;
        QTest::newRow("dot dot") << u".."_s << u"__.m3u8"_s;
        QTest::newRow("empty") << QString() << u"_.m3u8"_s;
        QTest::newRow("non-Latin") << u"Кино 🎵"_s << u"Кино 🎵.m3u8"_s;
    }
    void namesPlaylistFilesSafely()
    {
        QFETCH(QString, playlist);
        QFETCH(QString, fileName);
        const QString path = writeTrack(u"t.mp3"_s, AudioFiles::mp3());
        QVERIFY2(addTune(path, playlist, u"T"_s), qPrintable(m_error));
        QCOMPARE(QDir(musicFolder() + u"/Playlists"_s).entryList(QDir::Files),
                 QStringList{fileName});
    }

    void listsAPathWithALineBreakAsAUrl()
    {
        const QString path = writeTrack(u"two\nlines %.mp3"_s, AudioFiles::mp3());
        QVERIFY2(addTune(path, u"Odd"_s, u"T"_s), qPrintable(m_error));
        const QString location = linesOf(playlistFile(u"Odd"_s)).last();
        QVERIFY2(location.startsWith(u"file:///"_s), qPrintable(location));
        QCOMPARE(QUrl::fromEncoded(location.toUtf8()).toLocalFile(), path);
    }

    void failuresRaiseErrors_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing track") << u"no track"_s << u"cannot read the track"_s;
        QTest::newRow("playlist folder is a file")
            << u"Playlists"_s << u"cannot create the folder "_s + musicFolder();
        QTest::newRow("playlist cannot be written")
            << u"Playlists/Mine.m3u8.tmp/"_s << u"cannot write the playlist "_s;
    }
    void failuresRaiseErrors()
    {
        QFETCH(QString, obstacle);
        QFETCH(QString, expected);
        QString track = writeTrack(u"t.mp3"_s, AudioFiles::mp3());
        if (obstacle == u"no track"_s)
            QVERIFY(QFile::remove(track));
        else if (obstacle.endsWith(u'/'))
            QVERIFY(QDir().mkpath(musicFolder() + u'/' + obstacle));
        else
            QVERIFY(QFile(musicFolder() + u'/' + obstacle).open(QIODevice::WriteOnly));
        const QByteArray before("#EXTM3U\n/kept.mp3\n");
        if (obstacle.startsWith(u"Playlists/"_s)) {
            QFile list(playlistFile(u"Mine"_s));
            QVERIFY(list.open(QIODevice::WriteOnly));
            list.write(before);
        }

        QVERIFY(!addTune(track, u"Mine"_s, u"T"_s));
        QVERIFY2(m_error.contains(expected), qPrintable(m_error));
        QVERIFY2(m_error.startsWith(QStringLiteral(SKYVANE_SOURCE_RESOURCES "/addTune.lua:")),
                 qPrintable(m_error));
        if (obstacle.startsWith(u"Playlists/"_s)) {
            QFile list(playlistFile(u"Mine"_s));
            QVERIFY(list.open(QIODevice::ReadOnly));
            QCOMPARE(list.readAll(), before);
        }
    }
};

QTEST_GUILESS_MAIN(TestAddTune)
#include "tst_addtune.moc"
