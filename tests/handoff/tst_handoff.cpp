#include <csignal>
#include <cstdio>
#include <memory>
#include <tuple>

#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

#include "handoff/handoffqueue.h"
#include "handoff/scriptrunner.h"
#include "handoff/tagwriter.h"
#include "handoff/trackhandoff.h"
#include "values/recordingsettings.h"
#include "testmain.h"

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(RecordingSettings)
Q_DECLARE_METATYPE(Track)

namespace {

const QString shippedScript = QStringLiteral(SKYVANE_SOURCE_RESOURCES "/addTune.lua");

// A title with everything that must reach the script, tags and playlist unharmed.
const QString trickyTitle = u"Say \"hi\" / 'there'\nsecond\r\u0085line\u2028–\u2029日本語 🎵"_s;

// MPEG-1 Layer III frames of silence: 128 kbit/s, 44.1 kHz, 417 bytes each.
const QByteArray mp3 = (QByteArray::fromHex("fffb9064") + QByteArray(413, '\0')).repeated(20);

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// A track of one byte, its title sent by the station unless made.
Track track(const QString &path, const QString &title, bool madeTitle = false)
{
    Track t;
    std::tie(t.path, t.title, t.madeTitle, t.size) = std::tuple(path, title, madeTitle, 1);
    t.stationGenre = u"Jazz"_s;
    return t;
}

// A recording with the custom artist "Skyvane" and the playlist "AC/DC\nLive".
RecordingSettings station(bool split = false, const QString &album = {}, const QString &genre = {},
                          qint32 count = 9)
{
    RecordingSettings s;
    std::tie(s.name, s.playList, s.customArtist, s.customAlbum, s.customGenre, s.splitTitle,
             s.recCount) =
        std::tuple(u"Station"_s, u"AC/DC\nLive"_s, u"Skyvane"_s, album, genre, split, count);
    return s;
}

} // namespace

class TestHandoff : public QObject
{
    Q_OBJECT

    ScriptRunner m_runner;

    static QString music(const QString &path) { return QDir::homePath() + u"/Music/"_s + path; }
    // What the script made of the track from a station of genre "Jazz": "added"
    // and what it said, or the error text.
    QString handOver(const QString &path, const RecordingSettings &settings = station())
    {
        const auto [error, note] =
            TrackHandoff::handOver(m_runner, settings, track(path, trickyTitle));
        return error.value_or(note.isEmpty() ? u"added"_s : u"added: "_s + note);
    }
    // Lua shortens file names beyond 59 bytes in its messages: the user's script
    // lives deeper than that, so every error shows the whole name came back.
    const QString m_userScript =
        QDir::homePath() + u"/a-folder-long-enough-for-lua-to-shorten-it/skyvane/addTune.lua"_s;
    // Writes the user's script and runs it on a real MP3 whose path needs quoting.
    static QString scriptTrack() { return music(u"x \"1\".mp3"_s); }
    QString runUserScript(const QByteArray &script)
    {
        writeFile(m_userScript, script);
        return handOver(writeFile(scriptTrack(), mp3));
    }

    static qsizetype openDescriptors()
    {
        return QDir(u"/proc/self/fd"_s)
            .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
            .size();
    }
    // No script leaves a file open, bar the empty standard input of a loaded one.
    void runScriptCases()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, error);
        const qsizetype before = openDescriptors();
        QCOMPARE(runUserScript(script), m_userScript + error);
        QCOMPARE(openDescriptors(), before + (m_runner.isLoaded() ? 1 : 0));
    }
    // The code is the body of add_tune(...), on line 2, or else the whole script.
    static void scriptRow(const char *name, const QByteArray &code, const QString &error,
                          bool body = true)
    {
        QTest::newRow(name) << (body ? "function add_tune(...)\n  " + code + "\nend" : code)
                            << error;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Input waiting for whoever reads standard input: never a script.
        QVERIFY(std::freopen(qPrintable(writeFile(QDir::homePath() + u"/typed"_s, "typed\n")), "r",
                             stdin));
    }
    void init()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(QDir::cleanPath(m_userScript + u"/../.."_s)));
        // Small limits keep the runaway cases quick: instructions, time, memory.
        m_runner.setLimits({20'000'000, std::chrono::seconds(1), 16 << 20});
        m_runner.unload();
        QVERIFY(QDir(music({})).removeRecursively());
    }

    // The seven arguments of add_tune: path, playlist, title, album, artist,
    // genre, count. A split title is cut at " - " into artist, album and title,
    // trimmed, digit-only pieces skipped; its parts beat the custom ones.
    void buildsSevenArguments_data()
    {
        QTest::addColumn<RecordingSettings>("settings");
        QTest::addColumn<Track>("track");
        QTest::addColumn<QString>("expected"); // title|album|artist|genre|#count
        const auto row = [](const char *name, const QString &title, const QString &expected,
                            bool split = true, qint32 count = 9, const QString &album = {},
                            const QString &genre = {}, bool made = false) {
            QTest::newRow(name) << station(split, album, genre, count)
                                << track(u"/x.mp3"_s, title, made) << expected;
        };
        row("trim; bare hyphen", u"\tJay-Z\u00a0 - T -x\t"_s, u"T -x|Station|Jay-Z|Jazz|#9"_s);
        row("digits skipped; 4th unused", u"01 - A - 2004 - B - C - D"_s, u"C|B|A|Jazz|#9"_s);
        row("marks kept", u"Start of End of A - B"_s, u"Start of End of B|Station|A|Jazz|#9"_s);
        row("marks in order", u"End of Start of A - B"_s, u"End of B|Station|Start of A|Jazz|#9"_s);
        row("all digits", u"1999 - ٢٠٠٤"_s, u"1999 - ٢٠٠٤|L|Skyvane|Jazz|#0"_s, true, 0, u"L"_s);
        row("empty piece ends the scan", u"A -  - B"_s, u"A|Station|Skyvane|Jazz|#9"_s);
        row("parts beat custom ones", u"A - B - T"_s, u"T|B|A|G|#1"_s, true, 1, u"L"_s, u"G"_s);
        row("made title", u"A - T"_s, u"A - T|Station|Skyvane|Jazz|#9"_s, true, 9, {}, {}, true);
        row("split off, -1", u"A - T"_s, u"A - T|Station|Skyvane|Jazz|#1048576"_s, false, -1);
    }
    void buildsSevenArguments()
    {
        QFETCH(RecordingSettings, settings);
        QFETCH(Track, track);
        QFETCH(QString, expected);
        QStringList shown;
        for (const ScriptArgument &a : TrackHandoff::arguments(settings, track))
            shown << (a.index() ? u'#' + QString::number(std::get<1>(a)) : std::get<0>(a));
        QCOMPARE(shown.join(u'|'), u"/x.mp3|AC/DC\nLive|"_s + expected);
    }

    // The user's script, preferred to the shipped one: the error it raised,
    // after the script's file name. Texts arrive byte for byte, the count as an
    // integer; an error without a position gets the script's line. The host
    // functions reply true, or false and the reason.
    void runsTheUserScript_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("error");
        scriptRow("arguments as received",
                  "local a = {...} a[7] = math.type(a[7]) .. a[7] error(table.concat(a, '|'), 0)",
                  u":2: "_s + scriptTrack() + u"|AC/DC\nLive|"_s + trickyTitle +
                      u"|Station|Skyvane|Jazz|integer9"_s);
        scriptRow(
            "host replies",
            "local p = ... error(table.concat({tostring(skyvane.tag(p, {})), select(2, "
            "skyvane.tag(p .. 'x', {})), tostring(skyvane.make_folder(p .. '.d/e')), "
            "select(2, skyvane.make_folder(p .. '/in')), skyvane.file_name_safe('a/b\\n'), "
            "select(2, pcall(skyvane.tag))}, '|'))",
            u":2: true|no such file|true|cannot create the folder "_s + scriptTrack() +
                u"/in: Not a directory|a_b_|bad argument #1 to '?' (string expected, got no value)"_s);
        scriptRow("no handler", "", u": the script has no function 'add_tune'"_s, false);
    }
    void runsTheUserScript() { runScriptCases(); }

    // Lua abuse: what could block, crash or end Skyvane is not there, and what
    // runs away is stopped. A count hook cannot reach into a C function or a
    // finalizer, so debug, processes, C libraries, binary chunks, standard
    // input and finalizers are gone.
    void refusesScriptAbuse_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("error");
        const QString stopped = u":2: the script took too long and was stopped"_s;
        const QString binary = u"attempt to load a binary chunk (mode is 't')"_s;
        scriptRow(
            "dropped",
            "local v = {debug, os.execute, os.exit, os.setlocale, io.popen, io.stdin, "
            "package.loadlib, os.tmpname, io.tmpfile} error(tostring(next(v)) .. package.cpath .. "
            "#package.searchers, 0)",
            u":2: nil2"_s);
        scriptRow("standard input", "error(tostring(io.read()), 0)", u":2: nil"_s);
        scriptRow("finalizers",
                  "error(tostring(getmetatable(io.stdout)) .. '|' .. select(2, pcall(setmetatable, "
                  "{}, {__gc = print})), 0)",
                  u":2: false|a hand-off script cannot have finalizers (__gc): nothing could stop "
                  u"one that never returns"_s);
        scriptRow("binary load", "error(select(2, load(string.dump(function() end), 'd', 'b')), 0)",
                  u":2: "_s + binary);
        scriptRow(
            "binary files",
            "local p = ... .. '.luac' local f = io.open(p, 'wb') f:write(string.dump(function() "
            "end)) f:close() package.path = p:gsub('luac$', '?') error(select(2, loadfile(p, "
            "'b')) .. '|' .. select(2, pcall(dofile, p)) .. '|' .. select(2, pcall(require, "
            "'luac')), 0)",
            u":2: "_s + binary + u'|' + binary + u"|error loading module 'luac' from file '"_s +
                scriptTrack() + u".luac':\n\t"_s + binary);
        scriptRow("binary script", "\x1bLua", u": "_s + binary, false);
        scriptRow("instructions, pcall", "while 1 do pcall(function() while 1 do end end) end",
                  stopped);
        scriptRow("time", "while true do local s = ('x'):rep(1 << 20) end", stopped);
        scriptRow("memory", "local t = {} while 1 do t[#t + 1] = {} end", u": not enough memory"_s);
        scriptRow("endless top level", "\nwhile true do end", stopped, false);
    }
    void refusesScriptAbuse() { runScriptCases(); }

    // Files: writing, removing and renaming only inside the music folder and
    // Skyvane's data folder, the path resolved first; nothing in /proc, /dev or
    // /sys at all; at most 16 files open at once, the rest closed after a call.
    void limitsFiles_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("error");
        const QString home = QDir::homePath();
        const QString data = QFileInfo(m_userScript).path();
        QDir().mkpath(home + u"/outside"_s);
        QDir().mkpath(data);
        for (const auto &[link, target] :
             {std::pair(u"/folder"_s, u"/outside"_s), std::pair(u"/file"_s, u"/typed"_s),
              std::pair(u"/dangling"_s, u"/outside/new"_s)})
            QFile::link(home + target, data + link);
        const QString system = u": opening files in /proc, /dev or /sys is not allowed"_s;
        const QString outside = u": writing outside Skyvane's folders is not allowed"_s;
        const QByteArray all = "error(table.concat({";
        const QByteArray allEnd = "}, '|'), 0)";
        scriptRow("/proc/self/mem",
                  "local _, m, c = io.open('/proc/self/mem', 'r+b') error(m .. '|' .. c, 0)",
                  u":2: /proc/self/mem"_s + system + u"|13"_s);
        scriptRow(
            "reading /dev, /sys",
            "package.path = '/dev/?' " + all +
                "select(2, io.open('/dev/zero')), select(2, loadfile('/dev/zero')), "
                "select(2, pcall(io.lines, '/sys/kernel')), select(2, io.open('/dev/fd/0/')), "
                "select(2, pcall(require, 'zero'))" +
                allEnd,
            u":2: /dev/zero"_s + system + u"|cannot open /dev/zero"_s + system + u"|/sys/kernel"_s +
                system + u"|/dev/fd/0/"_s + system +
                u"|module 'zero' not found:\n\tno field package.preload['zero']\n\tno "
                u"file '/dev/zero'"_s);
        scriptRow(
            "writing outside",
            "local p = os.getenv('HOME') .. '/out' " + all +
                "select(2, io.open(p, 'a')), select(2, io.open(p, 'r+')), select(2, "
                "pcall(io.output, p)), select(2, os.remove(p)), (select(2, os.rename(..., p))), "
                "select(2, skyvane.tag(p, {})), select(2, skyvane.make_folder(p .. '/d'))" +
                allEnd,
            u":2: "_s + QStringList(5, home + u"/out"_s + outside).join(u'|') + u'|' +
                outside.mid(2) + u"|cannot create the folder "_s + home + u"/out/d"_s + outside);
        scriptRow("escaping by ..",
                  "error(select(2, io.open(skyvane.music_folder() .. '/../out', 'w')), 0)",
                  u":2: "_s + home + u"/Music/../out"_s + outside);
        scriptRow("escaping by links",
                  "local d = os.getenv('XDG_DATA_HOME') .. '/skyvane/' " + all +
                      "select(2, io.open(d .. 'folder/new', 'w')), select(2, io.open(d .. 'file', "
                      "'a')), (select(2, io.open(d .. 'dangling', 'w'))), select(2, skyvane.tag(d "
                      ".. 'file', "
                      "{})), select(2, skyvane.make_folder(d .. 'folder/sub'))" +
                      allEnd,
                  u":2: "_s + data + u"/folder/new"_s + outside + u'|' + data + u"/file"_s +
                      outside + u'|' + data + u"/dangling"_s + outside + u'|' + outside.mid(2) +
                      u"|cannot create the folder "_s + data + u"/folder/sub"_s + outside);
        scriptRow("inside the folders",
                  "local m = skyvane.music_folder() .. '/Playlists' skyvane.make_folder(m) "
                  "local f = assert(io.open(m .. '/../Playlists/a.tmp', 'w')) f:write('x') "
                  "f:close() assert(os.rename(m .. '/a.tmp', m .. '/a.m3u8')) "
                  "io.output(os.getenv('XDG_DATA_HOME') .. '/skyvane/state') io.write('y') "
                  "io.close() error(io.open(m .. '/a.m3u8'):read('a') .. tostring(os.remove(m .. "
                  "'/a.m3u8')), 0)",
                  u":2: xtrue"_s);
        scriptRow("open files",
                  "local p, t, m = ..., {} for i = 1, 200 do io.open(p):read(1) end "
                  "for i = 1, 200 do t[#t + 1], m = io.open(p) end error(#t .. '|' .. m, 0)",
                  u":2: 16|"_s + scriptTrack() + u": too many open files in the hand-off script"_s);
    }
    void limitsFiles() { runScriptCases(); }

    // A script that failed to load is tried again by the next track; without
    // the user's script the shipped one runs.
    void retriesTheLoadAndFallsBack()
    {
        QCOMPARE(runUserScript("x = "), m_userScript + u":1: unexpected symbol near <eof>"_s);
        QCOMPARE(runUserScript("function add_tune() end"), u"added"_s);
        QVERIFY(QFile::remove(m_userScript));
        const QString installed = QStringLiteral(SKYVANE_INSTALLED_RESOURCES "/addTune.lua");
        QCOMPARE(ScriptRunner::scriptPath(), QFile::exists(installed) ? installed : shippedScript);
    }

    // The shipped script tags the MP3 (ID3v2.4 only) and lists every track in
    // the playlist's safe file name, a line break in the title made a blank.
    // An existing playlist keeps its entries with their #EXTINF lines (other
    // comments and blank lines go); a track added again moves to the end; a
    // path with a line break is listed as a file:// URL; a file that cannot
    // carry tags is listed too; only the newest four entries stay listed.
    void shippedScriptTagsAndLists()
    {
        QString error;
        QVERIFY2(m_runner.loadFile(shippedScript, error), qPrintable(error));
        const QString again = music(u"Skyvane/again\u2028%.mp3"_s);
        const QByteArray url = QUrl::fromLocalFile(again).toEncoded();
        QFile file(music(u"Playlists/AC_DC_Live.m3u8"_s));
        writeFile(file.fileName(),
                  "#EXTM3U\r\n#PLAYLIST:Old\r\n/one.mp3\r\n\r\n#EXTINF:9,Two\r\n/two.mp3\r\n" +
                      url + "\r\n");
        QByteArray expected = "#EXTM3U\n#EXTINF:9,Two\n/two.mp3\n";
        const QString song = music(u"Skyvane/Song – 日本語.mp3"_s);
        const QString oneLine =
            QString(trickyTitle).replace(QRegularExpression(u"[\r\n\u0085\u2028\u2029]"_s), u" "_s);
        for (const QString &path : {song, again, music(u"Skyvane/Stream.nsv"_s)}) {
            const bool tagged = !path.endsWith(u".nsv");
            writeFile(path, tagged ? mp3 : QByteArray(4096, 'Z'));
            QCOMPARE(handOver(path, station(false, u"Альбом"_s, u"Jazz/Funk"_s, 4)),
                     tagged ? u"added"_s
                            : u"added: Track left untagged: TagLib cannot tag this kind of file"_s);
            expected += "#EXTINF:-1,Skyvane - " + oneLine.toUtf8() + '\n' +
                        (path == again ? url : path.toUtf8()) + '\n';
        }
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), expected);
        // Replaced through a temporary file, which is gone; the tracks stay.
        QCOMPARE(QDir(music(u"Playlists"_s)).entryList(QDir::Files).size(), 1);
        QCOMPARE(QDir(music(u"Skyvane"_s)).entryList(QDir::Files | QDir::Hidden).size(), 3);

        TagLib::MPEG::File mpeg(QFile::encodeName(song).constData());
        const TagLib::ID3v2::Tag *tag = mpeg.ID3v2Tag();
        QVERIFY(tag && !mpeg.hasID3v1Tag() && tag->header()->majorVersion() == 4);
        QCOMPARE(QString::fromStdString(tag->properties().toString().to8Bit(true)),
                 u"ALBUM=Альбом\nARTIST=Skyvane\nGENRE=Jazz/Funk\nTITLE="_s + trickyTitle + u'\n');
    }

    // A stream that begins like an ID3v2 tag of 256 MiB: TagLib would put its
    // tag in place of all that, the whole track. The track stays whole, untagged.
    void keepsTheAudioUnderALyingTag()
    {
        QString error;
        QVERIFY2(m_runner.loadFile(shippedScript, error), qPrintable(error));
        const QByteArray bytes = QByteArray::fromHex("4944330400007f7f7f7f") + mp3;
        const QString path = writeFile(music(u"Skyvane/lying.mp3"_s), bytes);
        QCOMPARE(handOver(path), u"added: Track left untagged: tagging would have cut the audio "
                                 u"from 8350 to 0 bytes"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), bytes);
        QCOMPARE(QDir(music(u"Skyvane"_s)).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // The hand-offs of all recordings run on a thread of their own, one after
    // another: the caller goes on while a script works. Results come in order,
    // all at once from waitForIdle; a receiver that is gone gets none.
    void queuesHandOffs()
    {
        writeFile(m_userScript,
                  "function add_tune(path, _, title)\n  while not io.open(path) do end\n"
                  "  return title\nend");
        HandoffQueue &queue = HandoffQueue::shared();
        QStringList results;
        auto gone = std::make_unique<QObject>();
        for (const QString &name : {u"waits"_s, u"gone"_s, u"next"_s}) {
            if (name != u"waits")
                writeFile(music(name), mp3);
            queue.add(station(), track(music(name), name), name == u"gone" ? gone.get() : this,
                      [&results](const std::optional<QString> &error, const QString &note) {
                          results << error.value_or(note);
                      });
        }
        gone.reset();
        QVERIFY(!queue.waitForIdle(std::chrono::milliseconds(0)));
        QVERIFY(results.isEmpty() && !queue.isIdle());
        writeFile(music(u"waits"_s), mp3);
        QVERIFY(queue.waitForIdle(std::chrono::minutes(1)));
        QCOMPARE(results, QStringList({u"waits"_s, u"next"_s}));

        // Quitting stops a script that would wait for ever (far within its
        // 30 s); the queue then works as before.
        for (const QString &name : {u"never"_s, u"again"_s}) {
            if (name == u"again") {
                QVERIFY(queue.waitForQuit());
                writeFile(music(name), mp3);
            }
            queue.add(station(), track(music(name), name), this,
                      [&results](const std::optional<QString> &error, const QString &note) {
                          results << error.value_or(note);
                      });
        }
        QVERIFY(queue.waitForIdle(std::chrono::minutes(1)));
        QCOMPARE(results.mid(2), QStringList({m_userScript + u":2: the script was stopped "
                                                             u"because Skyvane is quitting"_s,
                                              u"again"_s}));
    }

    // Shutting down stops a script that would wait for ever (far within its
    // 30 s) and joins the thread; nothing is handed over after.
    void shutdownJoinsTheThread()
    {
        writeFile(m_userScript,
                  "function add_tune(path)\n  os.remove(path)\n  while not io.open(path) do end\n"
                  "end");
        HandoffQueue queue;
        int done = 0;
        for (const QString &name : {u"stuck"_s, u"later"_s}) {
            const QString path = writeFile(music(name), mp3);
            if (name == u"later")
                QVERIFY(queue.shutdown(std::chrono::steady_clock::now() + HandoffQueue::quitLimit));
            queue.add(station(), track(path, name), this,
                      [&done](const std::optional<QString> &, const QString &) { ++done; });
            if (name == u"stuck")
                QTRY_VERIFY(!QFile::exists(path)); // the script runs
        }
        QCoreApplication::processEvents();
        QVERIFY(queue.isIdle() && done == 0 && QFile::exists(music(u"later"_s)));
    }

    // A tag that cannot be written says why, as the system does (here a
    // file-size limit; a full disk the same), and leaves the track whole.
    void taggingSaysWhy_data()
    {
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<QString>("reason");
        QTest::newRow("copy") << mp3.size() - 1000 << u"cannot copy the file next to it"_s;
        QTest::newRow("tags") << mp3.size() + 60 << u"cannot save the tags"_s;
    }
    void taggingSaysWhy()
    {
        QFETCH(qint64, limit);
        QFETCH(QString, reason);
        const QString path = writeFile(music(u"Skyvane/big.mp3"_s), mp3);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const rlimit small{rlim_t(limit), saved.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const std::optional<QString> error =
            TagWriter::write(path, {QString(2000, u'x'), {}, {}, {}});
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);
        QCOMPARE(error, reason + u": File too large"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), mp3);
        QCOMPARE(QDir(music(u"Skyvane"_s)).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestHandoff)
#include "tst_handoff.moc"
