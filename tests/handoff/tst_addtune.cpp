#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <taglib/fileref.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "handoff/scriptrunner.h"

using namespace Qt::StringLiterals;

namespace {

// A title with everything that must reach tags and playlist unharmed.
const QString trickyTitle = u"Song \"quoted\" / 'slashed'\nsecond line – 日本語 🎵"_s;

QString fromTagLib(const TagLib::String &text)
{
    return QString::fromStdString(text.to8Bit(true));
}

QByteArray littleEndian(quint64 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
    return out;
}

// MPEG-1 Layer III frames of silence: 128 kbit/s, 44.1 kHz, 417 bytes each.
QByteArray mp3()
{
    return (QByteArray::fromHex("fffb9064") + QByteArray(413, '\0')).repeated(20);
}

QByteArray oggPage(const QList<QByteArray> &packets, char flags, quint64 granule, int sequence)
{
    QByteArray lacing; // a packet is laced as runs of 255 ended by one value below 255
    QByteArray body;
    for (const QByteArray &packet : packets) {
        lacing += QByteArray(packet.size() / 255, char(255)) + char(packet.size() % 255);
        body += packet;
    }
    QByteArray page = "OggS" + QByteArray(1, '\0') + flags + littleEndian(granule, 8) +
                      littleEndian(0x5379, 4) + littleEndian(quint64(sequence), 4) +
                      littleEndian(0, 4) + char(lacing.size()) + lacing + body;
    quint32 crc = 0; // CRC-32, polynomial 0x04C11DB7, no reflection, no final xor
    for (const char byte : page) {
        crc ^= quint32(quint8(byte)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return page.replace(22, 4, littleEndian(crc, 4));
}

// Ogg Vorbis: the identification header (version 0, 2 channels, 44100 Hz,
// nominal 128 kbit/s, block sizes 2^8 and 2^11), the comment header (no vendor,
// no comments), a setup header and an audio packet that only a decoder would read.
QByteArray oggVorbis()
{
    const QByteArray identification = QByteArray::fromHex(
        "01 766f72626973 00000000 02 44ac0000 00000000 00f40100 00000000 b8 01");
    const QByteArray comments = QByteArray::fromHex("03 766f72626973 00000000 00000000 01");
    const QByteArray setup = "\x05vorbis" + QByteArray(32, '\0');
    return oggPage({identification}, 0x02, 0, 0) + oggPage({comments, setup}, 0, 0, 1) +
           oggPage({QByteArray(300, '\0')}, 0x04, 44100, 2);
}

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
        return m_runner
            .callHandler(u"add_tune"_s,
                         {path, playlist, title, u"Альбом"_s, artist, u"Jazz/Funk"_s, count},
                         m_error)
            .has_value();
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

    void tagsAndListsTheTrack_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("mp3 gets ID3v2.4") << u"Song – 日本語.mp3"_s << mp3();
        QTest::newRow("Ogg Vorbis gets comments") << u"Stream.ogg"_s << oggVorbis();
    }
    void tagsAndListsTheTrack()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString path = writeTrack(name, bytes);
        QVERIFY2(addTune(path, u"Mine"_s, trickyTitle, u"Art \"Q\""_s), qPrintable(m_error));
        const QString shownTitle = QString(trickyTitle).replace(u'\n', u' ');
        QCOMPARE(linesOf(playlistFile(u"Mine"_s)),
                 QStringList({u"#EXTM3U"_s, u"#EXTINF:-1,Art \"Q\" - "_s + shownTitle, path}));

        const QByteArray fileName = QFile::encodeName(path);
        const TagLib::FileRef file(fileName.constData());
        QVERIFY(!file.isNull() && file.file()->isValid());
        QCOMPARE(fromTagLib(file.tag()->title()), trickyTitle);
        QCOMPARE(fromTagLib(file.tag()->album()), u"Альбом"_s);
        QCOMPARE(fromTagLib(file.tag()->artist()), u"Art \"Q\""_s);
        QCOMPARE(fromTagLib(file.tag()->genre()), u"Jazz/Funk"_s);
        if (name.endsWith(u".mp3")) {
            TagLib::MPEG::File mpeg(fileName.constData());
            QVERIFY(mpeg.hasID3v2Tag() && !mpeg.hasID3v1Tag());
            QCOMPARE(mpeg.ID3v2Tag()->header()->majorVersion(), 4u);
        }
    }

    void keepsTheNewestEntries_data()
    {
        QTest::addColumn<int>("tracks");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("firstKept"); // tracks from this one on stay listed
        QTest::newRow("three of five") << 5 << 3 << 3;
        QTest::newRow("none") << 2 << 0 << 3;
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
            const QString path = writeTrack(title + u".mp3"_s, mp3());
            QVERIFY2(addTune(path, u"AC/DC\nLive"_s, title, QString(), count), qPrintable(m_error));
            if (i >= firstKept)
                expected << u"#EXTINF:-1,"_s + title << path;
        }
        QCOMPARE(linesOf(playlistFile(u"AC_DC_Live"_s)), expected);        // a name safe for a file
        QVERIFY(QFile::exists(musicFolder() + u"/Skyvane/Track 1.mp3"_s)); // files stay
    }

    // Entries of an existing playlist stay with their #EXTINF lines (other
    // comments and blank lines go); a track added again moves to the end. A path
    // with a line break is listed as a file:// URL.
    void updatesAnExistingPlaylist()
    {
        const QString again = writeTrack(u"again\n%.mp3"_s, mp3());
        const QByteArray url = QUrl::fromLocalFile(again).toEncoded();
        QVERIFY2(url.startsWith("file:///") && url.endsWith("/again%0A%25.mp3"), url.constData());
        QVERIFY(QDir().mkpath(musicFolder() + u"/Playlists"_s));
        QFile old(playlistFile(u"Old"_s));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("#EXTM3U\r\n#PLAYLIST:Old\r\n#EXTINF:-1,First\r\n" + url +
                  "\r\n/old/one.mp3\r\n\r\n#EXTINF:123,Old - Two\r\n/old/two.mp3\r\n");
        old.close();
        QVERIFY2(addTune(again, u"Old"_s, u"Again"_s), qPrintable(m_error));
        QCOMPARE(linesOf(playlistFile(u"Old"_s)),
                 QStringList({u"#EXTM3U"_s, u"/old/one.mp3"_s, u"#EXTINF:123,Old - Two"_s,
                              u"/old/two.mp3"_s, u"#EXTINF:-1,Artist - Again"_s,
                              QString::fromUtf8(url)}));
    }

    // Errors name the script's file and line; a playlist that cannot be
    // rewritten is left as it was.
    void failuresRaiseErrors()
    {
        const QString track = writeTrack(u"t.mp3"_s, mp3());
        const QString script = QStringLiteral(SKYVANE_SOURCE_RESOURCES "/addTune.lua:");
        QVERIFY(!addTune(track + u".gone"_s, u"Mine"_s, u"T"_s));
        QVERIFY2(m_error.startsWith(script) && m_error.contains(u"cannot read the track"),
                 qPrintable(m_error));

        const QByteArray before("#EXTM3U\n/kept.mp3\n");
        QFile list(playlistFile(u"Mine"_s));
        QVERIFY(QDir().mkpath(list.fileName() + u".tmp"_s)); // where the new list is written first
        QVERIFY(list.open(QIODevice::WriteOnly) && list.write(before) == before.size());
        list.close();
        QVERIFY(!addTune(track, u"Mine"_s, u"T"_s));
        QVERIFY2(m_error.startsWith(script) && m_error.contains(u"cannot write the playlist "),
                 qPrintable(m_error));
        QVERIFY(list.open(QIODevice::ReadOnly));
        QCOMPARE(list.readAll(), before);
    }
};

QTEST_GUILESS_MAIN(TestAddTune)
#include "tst_addtune.moc"
