#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include "handoff/scriptrunner.h"
#include "handoff/titlesplit.h"
#include "model/recording.h"
#include "platform/failures.h"
#include "platform/httptransfer.h"

using namespace Qt::StringLiterals;

namespace {

// A user script that writes down what add_tune receives: per argument its Lua
// type, a colon and its text, then a zero byte (titles may hold line breaks).
const QByteArray recorderScript = R"(function add_tune(...)
    local out = assert(io.open(os.getenv("HOME") .. "/received.txt", "wb"))
    for i = 1, select('#', ...) do
        local v = select(i, ...)
        out:write(math.type(v) or type(v), ":", tostring(v), "\0")
    end
    out:close()
end
)";

class SilentDelegate final : public HttpTransferDelegate
{
public:
    void transferWillRedirect(HttpTransfer &, const QString &) override {}
    void transferDidReceiveResponse(HttpTransfer &, const HttpResponse &) override {}
    void transferDidReceiveData(HttpTransfer &, QByteArrayView) override {}
    void transferDidFinish(HttpTransfer &) override {}
    void transferDidFail(HttpTransfer &, const QString &) override {}
};

} // namespace

class TestHandoff : public QObject
{
    Q_OBJECT

    // Lua shortens file names beyond 59 bytes in its messages; the user script
    // lives deeper than that, so every logged error shows the whole name came back.
    QTemporaryDir m_home{QDir::tempPath() +
                         u"/a-folder-whose-name-is-long-enough-for-lua-to-shorten-it-XXXXXX"_s};

    QString userScript() const { return m_home.filePath(u".local/share/skyvane/addTune.lua"_s); }
    QString receivedFile() const { return m_home.filePath(u"received.txt"_s); }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
    }
    void writeUserScript(const QByteArray &source) { writeFile(userScript(), source); }

    QStringList received() const
    {
        QFile file(receivedFile());
        if (!file.open(QIODevice::ReadOnly))
            return {u"<nothing received>"_s};
        return QString::fromUtf8(file.readAll()).split(QChar(0), Qt::SkipEmptyParts);
    }

    static std::unique_ptr<Recording> station()
    {
        auto recording = Recording::initWithName(u"Station"_s);
        recording->filePath = u"/music/Skyvane/x \"1\".mp3"_s;
        recording->playList = u"Mine/Yours"_s;
        recording->logText.clear();
        return recording;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u".local/share"_s)));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u".config"_s)));
        // Small limits keep the runaway cases quick.
        ScriptRunner::shared().setLimits(
            {.instructions = 20'000'000, .memoryBytes = qint64(16) << 20});
    }

    void init()
    {
        ScriptRunner::shared().unload();
        QFile::remove(userScript());
        QFile::remove(receivedFile());
    }

    void splitsStreamTitles_data()
    {
        QTest::addColumn<QString>("streamTitle");
        QTest::addColumn<QString>("parts"); // artist|album|title, "-" for a part not named
        auto row = [](const char *name, QStringView streamTitle, QStringView parts) {
            QTest::newRow(name) << streamTitle.toString() << parts.toString();
        };
        row("artist and title", u"Artist - Title", u"Artist|-|Title");
        row("track number dropped", u"01 - Artist - Album - Title", u"Artist|Album|Title");
        row("fourth piece unused", u"A - B - C - D", u"A|B|C");
        row("year in the middle dropped", u"Artist - 2004 - Song", u"Artist|-|Song");
        row("start of", u"Start of Artist - Song", u"Artist|-|Start of Song");
        row("start of end of", u"Start of End of A - B", u"A|-|Start of End of B");
        row("end of start of: only the first mark", u"End of Start of A - B",
            u"Start of A|-|End of B");
        row("digits only keep the whole title", u"1999", u"-|-|1999");
        row("Arabic-Indic digits are digits", u"٢٠٠٤ - أغنية", u"-|-|أغنية");
        row("empty", u"", u"-|-|");
        row("separator after separator ends the scan", u"A -  - B", u"-|-|A");
        row("hyphen without blanks", u"Jay-Z -Title", u"-|-|Jay-Z -Title");
        row("tabs and no-break spaces trimmed", u"\tArtist\u00a0 - Title\t", u"Artist|-|Title");
    }
    void splitsStreamTitles()
    {
        QFETCH(QString, streamTitle);
        QFETCH(QString, parts);
        const TitleSplit split = TitleSplit::fromTitle(streamTitle);
        QCOMPARE(split.artist.value_or(u"-"_s) + u'|' + split.album.value_or(u"-"_s) + u'|' +
                     split.title,
                 parts);
    }

    // The recording has the custom artist "Skyvane" and the genre "Jazz".
    void sendsSevenArguments_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("splitTitle");
        QTest::addColumn<bool>("madeTitle");
        QTest::addColumn<QString>("customAlbum");
        QTest::addColumn<QString>("customGenre");
        QTest::addColumn<int>("recCount");
        QTest::addColumn<QStringList>("expected"); // title, album, artist, genre, count
        auto row = [](const char *name, const QString &title, bool split, bool made,
                      const QString &album, const QString &genre, int count,
                      const QStringList &expected) {
            QTest::newRow(name) << title << split << made << album << genre << count << expected;
        };
        const QString sky = u"Skyvane"_s;
        const QString jazz = u"Jazz"_s;
        row("split, album and genre fall back", u"Artist - Title"_s, true, false, QString(),
            QString(), 1000, {u"Title"_s, u"Station"_s, u"Artist"_s, jazz, u"1000"_s});
        row("three parts replace the album", u"01 - A - B - C"_s, true, false, u"Mine"_s, u"Rock"_s,
            1, {u"C"_s, u"B"_s, u"A"_s, u"Rock"_s, u"1"_s});
        row("a year keeps the recording's names", u"1999"_s, true, false, u"Album"_s, QString(), 5,
            {u"1999"_s, u"Album"_s, sky, jazz, u"5"_s});
        row("made title is not split", u"X - Y"_s, true, true, QString(), u"Rock"_s, 0,
            {u"X - Y"_s, u"Station"_s, sky, u"Rock"_s, u"0"_s});
        row("split off", u"X - Y"_s, false, false, QString(), QString(), -1,
            {u"X - Y"_s, u"Station"_s, sky, jazz, u"1048576"_s});
        row("non-Latin, quotes, slash, line break", u"Кино - \"Группа/крови\"\nlive"_s, true, false,
            QString(), QString(), -5,
            {u"\"Группа/крови\"\nlive"_s, u"Station"_s, u"Кино"_s, jazz, u"1048576"_s});
    }
    void sendsSevenArguments()
    {
        QFETCH(QString, title);
        QFETCH(bool, splitTitle);
        QFETCH(bool, madeTitle);
        QFETCH(QString, customAlbum);
        QFETCH(QString, customGenre);
        QFETCH(int, recCount);
        QFETCH(QStringList, expected);
        writeUserScript(recorderScript);
        auto recording = station();
        recording->title = title;
        recording->splitTitle = splitTitle;
        recording->madeTitle = madeTitle;
        recording->customArtist = u"Skyvane"_s;
        recording->customAlbum = customAlbum;
        recording->customGenre = customGenre;
        recording->genre = u"Jazz"_s;
        recording->recCount = recCount;
        recording->addToTunes();

        QStringList typed{u"string:/music/Skyvane/x \"1\".mp3"_s, u"string:Mine/Yours"_s};
        for (qsizetype i = 0; i < expected.size(); ++i)
            typed << (i < 4 ? u"string:"_s : u"integer:"_s) + expected[i];
        QCOMPARE(received(), typed);
        QCOMPARE(recording->logText, u"Added track to playlist Mine/Yours\n"_s);
    }

    void failuresAreLoggedAndRaiseOnlyDuringACapture_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("logged"); // after the script's file name
        auto inHandler = [](const char *name, const QByteArray &line, const QString &logged) {
            QTest::newRow(name) << "function add_tune()\n  " + line + "\nend\n" << logged;
        };
        inHandler("error", "error('refused')", u":2: refused"_s);
        inHandler("error without position", "error('refused', 0)", u":2: refused"_s);
        inHandler("bad host argument", "skyvane.tag(nil)",
                  u":2: bad argument #1 to 'tag' (string expected, got nil)"_s);
        inHandler("exit refused", "os.exit(1)",
                  u":2: os.exit would end Skyvane; raise an error instead"_s);
        inHandler("endless loop catching errors",
                  "while true do pcall(function() while true do end end) end",
                  u":2: the script took too long and was stopped"_s);
        inHandler("memory", "local t = {} for i = 1, math.maxinteger do t[i] = {} end",
                  u": not enough memory"_s);
        QTest::newRow("no handler")
            << QByteArray("-- nothing here\n") << u": the script has no function 'add_tune'"_s;
        QTest::newRow("syntax error")
            << QByteArray("add_tune = ") << u":1: unexpected symbol near <eof>"_s;
        QTest::newRow("endless top level")
            << QByteArray("while true do end") << u":1: the script took too long and was stopped"_s;
        QTest::newRow("binary chunk")
            << QByteArray("\x1bLua") << u": attempt to load a binary chunk (mode is 't')"_s;
    }
    void failuresAreLoggedAndRaiseOnlyDuringACapture()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, logged);
        writeUserScript(script);
        const QString line = u"Error adding to playlist: "_s + userScript() + logged + u'\n';
        auto recording = station();
        recording->addToTunes(); // no capture running: nothing is raised
        QCOMPARE(recording->logText, line);

        // A station that accepts the connection and never answers.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QSignalSpy accepted(&server, &QTcpServer::newConnection);
        SilentDelegate delegate;
        HttpTransfer::Request request;
        request.url = u"http://127.0.0.1:%1/stream"_s.arg(server.serverPort());
        recording->conn = HttpTransfer::start(request, &delegate);
        QVERIFY(recording->conn);
        QVERIFY(accepted.wait());

        recording->logText.clear();
        try {
            recording->addToTunes();
            QFAIL("the failure was not raised");
        } catch (const NamedFailure &failure) {
            QCOMPARE(failure.name(), u"FileAddFailed"_s);
            QCOMPARE(failure.reason(), u"Error adding the track to iTunes"_s);
        }
        QCOMPARE(recording->logText, line);
        recording->conn.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // A script that failed to load is tried again by the next track; without a
    // user script the shipped one runs, and lists even a format without tags.
    void retriesTheLoadThenFallsBackToTheShippedScript()
    {
        writeUserScript("function add_tune(\n");
        const QString track = m_home.filePath(u"Music/Skyvane/Artist - Song.nsv"_s);
        writeFile(track, QByteArray(4096, '\x5a'));
        auto recording = station();
        recording->filePath = track;
        recording->title = u"Artist - Song"_s;
        recording->addToTunes();
        QVERIFY(!ScriptRunner::shared().isLoaded());

        QVERIFY(QFile::remove(userScript()));
        const QString installed = QStringLiteral(SKYVANE_INSTALLED_RESOURCES "/addTune.lua");
        QCOMPARE(ScriptRunner::scriptPath(),
                 QFile::exists(installed)
                     ? installed
                     : QStringLiteral(SKYVANE_SOURCE_RESOURCES "/addTune.lua"));
        recording->logText.clear();
        recording->addToTunes();
        QCOMPARE(recording->logText, u"Added track to playlist Mine/Yours\n"_s);
        QFile playlist(m_home.filePath(u"Music/Playlists/Mine_Yours.m3u8"_s));
        QVERIFY(playlist.open(QIODevice::ReadOnly));
        QCOMPARE(playlist.readAll(), "#EXTM3U\n#EXTINF:-1,Artist - Song\n" + track.toUtf8() + '\n');
    }

    // A loop that the instruction count would let run for ages ends by the
    // clock; the script stays loaded and its next call runs normally.
    void stopsARunawayHandlerByTheClock()
    {
        writeUserScript("function spin() while true do end end\nfunction fine() return 1 end\n");
        ScriptRunner runner;
        runner.setLimits({.instructions = std::numeric_limits<qint64>::max(),
                          .time = std::chrono::milliseconds(20)});
        QString error;
        QVERIFY2(runner.loadFile(userScript(), error), qPrintable(error));
        QVERIFY(!runner.callHandler(u"spin"_s, {}, error));
        QCOMPARE(error, userScript() + u":1: the script took too long and was stopped"_s);
        QCOMPARE(runner.callHandler(u"fine"_s, {}, error).value_or(u"failed: "_s + error),
                 QVariant(qint64(1)));
    }
};

QTEST_GUILESS_MAIN(TestHandoff)
#include "tst_handoff.moc"
