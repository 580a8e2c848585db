#include <cstdio>
#include <tuple>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QUrl>

#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

#include "testfiles.h"
#include "handoff/handoffqueue.h"
#include "handoff/scriptrunner.h"
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

// A track of one byte, its title sent by the station unless made.
Track track(const QString &path, const QString &title, bool madeTitle = false)
{
    return Track{path, title, madeTitle, 1, 0, u"Jazz"_s};
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

    // The code is the body of add_tune(...), on line 2, or else the whole script.
    static void scriptRow(const char *name, const QByteArray &code, const QString &error,
                          bool body = true)
    {
        QTest::newRow(name) << (body ? "function add_tune(...)\n  " + code + "\nend" : code)
                            << error;
    }

private Q_SLOTS:
    void init()
    {
        // Input waiting for whoever reads standard input: never a script.
        QVERIFY(std::freopen(qPrintable(writeFile(QDir::homePath() + u"/typed"_s, "typed\n")), "r",
                             stdin));
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
        row("digits skipped; 4th unused", u"01 - A - 2004 - B - C - D"_s, u"C|B|A|Jazz|#9"_s);
        row("marks kept; trim; bare hyphen", u"Start of End of \tJay-Z\u00a0 - T -x\t"_s,
            u"Start of End of T -x|Station|Jay-Z|Jazz|#9"_s);
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
    // after the script's file name; an error without a position gets the
    // script's line.
    //
    // Lua abuse: what could block, crash or end Skyvane is not there, and what
    // runs away is stopped. A count hook cannot reach into a C function or a
    // finalizer, so debug, processes, C libraries, binary chunks, standard
    // input and finalizers are gone.
    //
    // Files: writing, removing and renaming only inside the music folder and
    // Skyvane's data folder, the path resolved first; nothing in /proc, /dev or
    // /sys at all; at most 16 files open at once, the rest closed after a call.
    void runsScripts_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("error");
        scriptRow("no handler", "", u": the script has no function 'add_tune'"_s, false);

        const QString stopped = u":2: the script took too long and was stopped"_s;
        const QString binary = u"attempt to load a binary chunk (mode is 't')"_s;
        scriptRow("dropped, standard input",
                  "local v = {debug, os.execute, os.exit, os.setlocale, io.popen, io.stdin, "
                  "package.loadlib, os.tmpname, io.tmpfile} error(tostring(next(v)) .. "
                  "package.cpath .. #package.searchers .. tostring(io.read()))",
                  u":2: nil2nil"_s);
        scriptRow("finalizers",
                  "error(tostring(getmetatable(io.stdout)) .. getmetatable(setmetatable({}, "
                  "{__metatable = '|'})) .. select(2, pcall(setmetatable, {}, {__gc = print})), 0)",
                  u":2: false|a hand-off script cannot have finalizers (__gc): nothing could stop "
                  u"one that never returns"_s);
        scriptRow(
            "binary chunks",
            "local p, d = ... .. '.luac', string.dump(function() end) local f = io.open(p, 'wb') "
            "f:write(d) f:close() package.path = p:gsub('luac$', '?') error(select(2, load(d, "
            "'d')) .. '|' .. select(2, loadfile(p, 'b')) .. '|' .. select(2, pcall(dofile, "
            "p)) .. '|' .. select(2, pcall(require, 'luac')), 0)",
            u":2: "_s + QStringList(3, binary).join(u'|') +
                u"|error loading module 'luac' from file '"_s + scriptTrack() + u".luac':\n\t"_s +
                binary);
        scriptRow("binary script", "\x1bLua", u": "_s + binary, false);
        scriptRow("text chunk in its own environment",
                  "local p = ... .. '.lua' local f = io.open(p, 'w') f:write('return x') f:close() "
                  "error(loadfile(p, 't', {x = 'env'})() .. tostring(loadfile(p)()), 0)",
                  u":2: envnil"_s);
        scriptRow("instructions, pcall", "while 1 do pcall(function() while 1 do end end) end",
                  stopped);
        scriptRow("time", "while true do local s = ('x'):rep(1 << 20) end", stopped);
        scriptRow("memory", "local t = {} while 1 do t[#t + 1] = {} end", u": not enough memory"_s);

        const QString home = QDir::homePath();
        const QString data = QFileInfo(m_userScript).path();
        QDir().mkpath(home + u"/outside"_s);
        QDir().mkpath(data);
        QFile::link(home + u"/outside"_s, data + u"/folder"_s);
        QFile::link(home + u"/typed"_s, data + u"/file"_s);
        const QString system = u": opening files in /proc, /dev or /sys is not allowed"_s;
        const QString outside = u": writing outside Skyvane's folders is not allowed"_s;
        scriptRow(
            "/proc, /dev, /sys",
            "package.path = '/dev/?' error(table.concat({select(3, io.open('/proc/self/mem', "
            "'r+b')), select(2, io.open('/dev/zero')), select(2, loadfile('/dev/zero')), "
            "select(2, pcall(io.lines, '/sys/kernel')), select(2, pcall(io.input, '/sys/kernel')), "
            "select(2, io.open('/dev/fd/0/')), "
            "select(2, pcall(require, 'zero'))}, '|'), 0)",
            u":2: 13|/dev/zero"_s + system + u"|cannot open /dev/zero"_s + system +
                QStringList(2, u"|/sys/kernel"_s + system).join(QString()) + u"|/dev/fd/0/"_s +
                system +
                u"|module 'zero' not found:\n\tno field package.preload['zero']\n\tno "
                u"file '/dev/zero'"_s);
        scriptRow("writing outside",
                  "local p = os.getenv('HOME') .. '/out' error(table.concat({select(2, io.open(p, "
                  "'a')), select(2, io.open(p, 'r+')), select(2, pcall(io.output, p)), select(2, "
                  "os.remove(p)), (select(2, os.rename(..., p))), select(2, "
                  "io.open(skyvane.music_folder() .. '/../out', 'w')), select(2, "
                  "io.open(skyvane.music_folder() .. '/..', 'a')), select(2, "
                  "io.open(skyvane.music_folder() .. '/.', 'a')), select(2, skyvane.tag(p, "
                  "{})), select(2, skyvane.make_folder(p .. '/d'))}, '|'), 0)",
                  u":2: "_s + QStringList(5, home + u"/out"_s + outside).join(u'|') + u'|' + home +
                      u"/Music/../out"_s + outside + u'|' + home + u"/Music/.."_s + outside + u'|' +
                      home + u"/Music/."_s + outside + u'|' + outside.mid(2) +
                      u"|cannot create the folder "_s + home + u"/out/d"_s + outside);
        // A link as the last part of the path or on the way to it.
        scriptRow("escaping by links",
                  "local d = os.getenv('XDG_DATA_HOME') .. '/skyvane/' error(select(2, io.open(d "
                  ".. 'folder/new', 'w')) .. '|' .. select(2, io.open(d .. 'file', 'a')), 0)",
                  u":2: "_s + data + u"/folder/new"_s + outside + u'|' + data + u"/file"_s +
                      outside);
        // The music folder is written by the shipped script; here the data folder.
        scriptRow(
            "inside the data folder",
            "local p = os.getenv('XDG_DATA_HOME') .. '/skyvane/state' io.output(p) "
            "io.write('y') io.flush() error(io.open(p):read('a') .. tostring(os.remove(p)) .. "
            "tostring(skyvane.make_folder(p .. '/d')), 0)",
            u":2: ytruetrue"_s);
        scriptRow("open files",
                  "local p, t, m = ..., {} for i = 1, 200 do io.open(p):read(1) end "
                  "for i = 1, 200 do t[#t + 1], m = io.open(p) end error(#t .. '|' .. m, 0)",
                  u":2: 16|"_s + scriptTrack() + u": too many open files in the hand-off script"_s);
    }
    // No script leaves a file open, bar the empty standard input of a loaded one.
    void runsScripts()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, error);
        const QDir descriptors(u"/proc/self/fd"_s, {}, {}, QDir::AllEntries | QDir::System);
        const qsizetype before = descriptors.count();
        QCOMPARE(runUserScript(script), m_userScript + error);
        descriptors.refresh();
        QCOMPARE(descriptors.count(), before + (m_runner.isLoaded() ? 1 : 0));
    }

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
    // carry tags is listed too, whole; only the newest seven entries stay.
    // A stream that begins like an ID3v2 tag of 256 MiB: TagLib would put its
    // tag in place of all that, the whole track. A tag that cannot be written
    // says why, as the system does (here a file-size limit; a full disk the
    // same), and leaves the track whole.
    void shippedScriptTagsAndLists()
    {
        QString error;
        QVERIFY2(m_runner.loadFile(shippedScript, error), qPrintable(error));
        const QString again = music(u"Skyvane/again\u2028%.mp3"_s);
        const QByteArray url = QUrl::fromLocalFile(again).toEncoded();
        const QString playlist = music(u"Playlists/AC_DC_Live.m3u8"_s);
        writeFile(playlist, "#EXTM3U\n#X\n/one.mp3\n\n#EXTINF:9,Two\n/two.mp3\n" + url + "\r\n");
        QByteArray expected = "#EXTM3U\n#EXTINF:9,Two\n/two.mp3\n";
        const QString song = music(u"Skyvane/Song – 日本語.mp3"_s);
        const std::tuple<QString, QByteArray, QString, qint64> tracks[] = {
            {song, mp3, {}, 0},
            {again, mp3, {}, 0},
            {music(u"Skyvane/Stream.nsv"_s), QByteArray(4096, 'Z'),
             u"TagLib cannot tag this kind of file"_s, 0},
            {music(u"Skyvane/lying.mp3"_s), QByteArray::fromHex("4944330400007f7f7f7f") + mp3,
             u"tagging would have cut the audio from 8350 to 0 bytes"_s, 0},
            {music(u"Skyvane/copy.mp3"_s), mp3,
             u"cannot copy the file next to it: File too large"_s, mp3.size() - 1000},
            {music(u"Skyvane/tags.mp3"_s), mp3, u"cannot save the tags: File too large"_s,
             mp3.size() + 60}};
        for (const auto &[path, bytes, untagged, limit] : tracks) {
            writeFile(path, bytes);
            QString result;
            {
                const auto small = lowerLimit(RLIMIT_FSIZE, limit ? rlim_t(limit) : RLIM_INFINITY);
                result = handOver(path, station(false, u"Альбом"_s, u"Jazz/Funk"_s, 7));
            }
            QCOMPARE(result, untagged.isEmpty() ? u"added"_s
                                                : u"added: Track left untagged: "_s + untagged);
            QVERIFY(untagged.isEmpty() || fileContents(path) == bytes);
            expected += "#EXTINF:-1,Skyvane - Say \"hi\" / 'there' second  line – 日本語 🎵\n" +
                        (path == again ? url : path.toUtf8()) + '\n';
        }
        QCOMPARE(fileContents(playlist), expected);
        // No tagging copy is left behind; the tracks stay.
        QCOMPARE(QDir(music(u"Skyvane"_s)).entryList(QDir::Files | QDir::Hidden).size(), 6);

        TagLib::MPEG::File mpeg(QFile::encodeName(song).constData());
        QVERIFY(fileContents(song).startsWith("ID3\x04") && !mpeg.hasID3v1Tag());
        QCOMPARE(QString::fromStdString(mpeg.properties().toString().to8Bit(true)),
                 u"ALBUM=Альбом\nARTIST=Skyvane\nGENRE=Jazz/Funk\nTITLE="_s + trickyTitle + u'\n');
    }

    // The hand-offs of all recordings run on a thread of their own, one after
    // another: the caller goes on while a script works. Results come in order,
    // all at once from waitForIdle; a receiver that is gone gets none. Quitting
    // stops a script that would wait for ever (far within its 30 s), and the
    // queue then works as before; shutting down stops one and joins the
    // thread, and nothing is handed over after.
    void queuesHandOffs()
    {
        // Each hand-off removes the track's ".run" mark, then waits for the track.
        writeFile(m_userScript, "function add_tune(path, _, title)\n  os.remove(path .. '.run')\n"
                                "  while not io.open(path) do end\n  return title\nend");
        HandoffQueue queue;
        QStringList results;
        std::optional<QObject> gone(std::in_place);
        const auto done = [&](auto error, auto note) { results << error.value_or(note); };
        const auto add = [&](const QString &name, bool written, QObject *receiver) {
            writeFile(music(name + u".run"_s), {});
            if (written)
                writeFile(music(name), mp3);
            queue.add(station(), track(music(name), name), receiver, done);
        };
        add(u"waits"_s, false, this);
        add(u"gone"_s, true, &*gone);
        add(u"next"_s, true, this);
        gone.reset();
        QVERIFY(!queue.waitForIdle(std::chrono::milliseconds(0)));
        writeFile(music(u"waits"_s), mp3);
        QVERIFY(queue.waitForIdle(std::chrono::minutes(1)));
        QCOMPARE(results, QStringList({u"waits"_s, u"next"_s}));

        add(u"never"_s, false, this);
        QVERIFY(queue.waitForQuit());
        add(u"again"_s, true, this);
        QVERIFY(queue.waitForIdle(std::chrono::minutes(1)));
        QCOMPARE(results.mid(2), QStringList({m_userScript + u":3: the script was stopped "
                                                             u"because Skyvane is quitting"_s,
                                              u"again"_s}));

        add(u"stuck"_s, false, this);
        QTRY_VERIFY(!QFile::exists(music(u"stuck.run"_s))); // the script runs
        QVERIFY(queue.shutdown(std::chrono::steady_clock::now() + HandoffQueue::quitLimit));
        add(u"later"_s, true, this);
        QCoreApplication::processEvents();
        QVERIFY(queue.isIdle() && results.size() == 4 && QFile::exists(music(u"later.run"_s)));
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestHandoff)
#include "tst_handoff.moc"
