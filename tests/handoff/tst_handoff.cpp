#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include "audiofiles.h"
#include "handoff/scriptrunner.h"
#include "model/recording.h"
#include "platform/failures.h"
#include "platform/httptransfer.h"

using namespace Qt::StringLiterals;

namespace {

// A user script that writes down what add_tune receives, one line per
// argument: its Lua type and its bytes in hex (titles may hold line breaks).
const QByteArray recorderScript = R"(function add_tune(...)
    local out = assert(io.open(os.getenv("HOME") .. "/received.txt", "wb"))
    for i = 1, select('#', ...) do
        local v = select(i, ...)
        local hex = tostring(v):gsub(".", function(c) return string.format("%02x", c:byte()) end)
        out:write(math.type(v) or type(v), " ", hex, "\n")
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

    QTemporaryDir m_home;

    QString userScript() const { return m_home.filePath(u".local/share/skyvane/addTune.lua"_s); }
    QString receivedFile() const { return m_home.filePath(u"received.txt"_s); }

    void writeUserScript(const QByteArray &source)
    {
        QDir().mkpath(QFileInfo(userScript()).path());
        QFile file(userScript());
        if (!file.open(QIODevice::WriteOnly) || file.write(source) != source.size())
            qFatal("cannot write the user script");
    }

    // What the recording script received, as "type:text" per argument.
    QStringList received() const
    {
        QFile file(receivedFile());
        if (!file.open(QIODevice::ReadOnly))
            return {u"<nothing received>"_s};
        QStringList arguments;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const qsizetype blank = line.indexOf(' ');
            if (blank > 0)
                arguments << QString::fromUtf8(line.left(blank)) + u':' +
                                 QString::fromUtf8(QByteArray::fromHex(line.mid(blank + 1)));
        }
        return arguments;
    }

    static std::unique_ptr<Recording> station()
    {
        auto recording = Recording::initWithName(u"Station"_s);
        recording->filePath = u"/music/Skyvane/x \"1\".mp3"_s;
        recording->playList = u"Mine/Yours"_s;
        return recording;
    }

    // Runs a hand-off that is expected to fail; gives whether it raised.
    static bool failingHandoffRaises(Recording &recording)
    {
        try {
            recording.addToTunes();
        } catch (const NamedFailure &failure) {
            if (failure.name() != u"FileAddFailed"_s ||
                failure.reason() != u"Error adding the track to iTunes"_s)
                qFatal("unexpected failure %s", qPrintable(failure.name()));
            return true;
        }
        return false;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u".local/share"_s)));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u".config"_s)));
    }

    void init()
    {
        ScriptRunner::shared().unload();
        QFile::remove(userScript());
        QFile::remove(receivedFile());
    }

    void sendsSevenArguments_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("splitTitle");
        QTest::addColumn<bool>("madeTitle");
        QTest::addColumn<QString>("customArtist");
        QTest::addColumn<QString>("customAlbum");
        QTest::addColumn<QString>("customGenre");
        QTest::addColumn<QString>("genre");
        QTest::addColumn<int>("recCount");
        QTest::addColumn<QStringList>("expected"); // title, album, artist, genre, count

        auto row = [](const char *name, const QString &title, bool split, bool made,
                      const QString &artist, const QString &album, const QString &customGenre,
                      const QString &genre, int count, const QStringList &expected) {
            QTest::newRow(name) << title << split << made << artist << album << customGenre << genre
                                << count << expected;
        };
        const QString sky = u"Skyvane"_s;
        row("split artist and title", u"Artist - Title"_s, true, false, sky, QString(), QString(),
            u"Jazz"_s, 1000, {u"Title"_s, u"Station"_s, u"Artist"_s, u"Jazz"_s, u"1000"_s});
        row("custom album kept", u"Artist - Title"_s, true, false, sky, u"Best of"_s, QString(),
            QString(), 5, {u"Title"_s, u"Best of"_s, u"Artist"_s, QString(), u"5"_s});
        row("three parts replace the album", u"01 - A - B - C"_s, true, false, sky, u"Mine"_s,
            u"Rock"_s, u"Jazz"_s, 1, {u"C"_s, u"B"_s, u"A"_s, u"Rock"_s, u"1"_s});
        row("made title is not split", u"X - Y"_s, true, true, sky, QString(), u"Rock"_s, QString(),
            0, {u"X - Y"_s, u"Station"_s, sky, u"Rock"_s, u"0"_s});
        row("split off", u"X - Y"_s, false, false, QString(), QString(), QString(), QString(), -1,
            {u"X - Y"_s, u"Station"_s, QString(), QString(), u"1048576"_s});
        row("marks survive the split", u"Start of Artist - Song"_s, true, false, sky, QString(),
            QString(), QString(), 1000,
            {u"Start of Song"_s, u"Station"_s, u"Artist"_s, QString(), u"1000"_s});
        row("a year keeps the recording's names", u"1999"_s, true, false, sky, u"Album"_s,
            QString(), QString(), 1000, {u"1999"_s, u"Album"_s, sky, QString(), u"1000"_s});
        row("non-Latin, quotes, slash, line break", u"Кино - \"Группа/крови\"\nlive"_s, true, false,
            sky, QString(), QString(), QString(), -5,
            {u"\"Группа/крови\"\nlive"_s, u"Station"_s, u"Кино"_s, QString(), u"1048576"_s});
    }
    void sendsSevenArguments()
    {
        QFETCH(QString, title);
        QFETCH(bool, splitTitle);
        QFETCH(bool, madeTitle);
        QFETCH(QString, customArtist);
        QFETCH(QString, customAlbum);
        QFETCH(QString, customGenre);
        QFETCH(QString, genre);
        QFETCH(int, recCount);
        QFETCH(QStringList, expected);
        writeUserScript(recorderScript);
        auto recording = station();
        recording->title = title;
        recording->splitTitle = splitTitle;
        recording->madeTitle = madeTitle;
        recording->customArtist = customArtist;
        recording->customAlbum = customAlbum;
        recording->customGenre = customGenre;
        recording->genre = genre;
        recording->recCount = recCount;
        recording->logText.clear();

        recording->addToTunes();

        const QStringList types{u"string"_s, u"string"_s, u"string"_s, u"string"_s, u"integer"_s};
        QStringList typed{u"string:/music/Skyvane/x \"1\".mp3"_s, u"string:Mine/Yours"_s};
        for (qsizetype i = 0; i < expected.size(); ++i)
            typed << types[i] + u':' + expected[i];
        QCOMPARE(received(), typed);
        QCOMPARE(recording->logText, u"Added track to playlist Mine/Yours\n"_s);
    }

    void retriesAScriptThatFailedToLoad()
    {
        writeUserScript("function add_tune(\n");
        auto recording = station();
        recording->logText.clear();
        recording->addToTunes();
        QVERIFY(!ScriptRunner::shared().isLoaded());
        QVERIFY2(recording->logText.startsWith(u"Error adding to playlist: "_s + userScript() +
                                               u":2: "_s),
                 qPrintable(recording->logText));

        writeUserScript(recorderScript);
        recording->logText.clear();
        recording->addToTunes();
        QCOMPARE(recording->logText, u"Added track to playlist Mine/Yours\n"_s);
        QVERIFY(QFile::exists(receivedFile()));
    }

    void runsTheShippedScriptWithoutAUserScript()
    {
        const QString installed = QStringLiteral(SKYVANE_INSTALLED_RESOURCES "/addTune.lua");
        QCOMPARE(ScriptRunner::scriptPath(),
                 QFile::exists(installed)
                     ? installed
                     : QStringLiteral(SKYVANE_SOURCE_RESOURCES "/addTune.lua"));

        const QString track = m_home.filePath(u"Music/Skyvane/Artist - Song.mp3"_s);
        QVERIFY(QDir().mkpath(QFileInfo(track).path()));
        QFile file(track);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(AudioFiles::mp3());
        file.close();
        auto recording = station();
        recording->filePath = track;
        recording->title = u"Artist - Song"_s;
        recording->customArtist = u"Skyvane"_s;
        recording->logText.clear();
        recording->addToTunes();
        QCOMPARE(recording->logText, u"Added track to playlist Mine/Yours\n"_s);
        QFile playlist(m_home.filePath(u"Music/Playlists/Mine_Yours.m3u8"_s));
        QVERIFY(playlist.open(QIODevice::ReadOnly));
        QCOMPARE(playlist.readAll(),
                 "#EXTM3U\n#EXTINF:-1,Artist - Song\n" + file.fileName().toUtf8() + '\n');
    }

    void failureRaisesOnlyDuringACapture_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("logged");
        QTest::newRow("handler error")
            << QByteArray("function add_tune()\n error('refused')\nend") << u":2: refused\n"_s;
        QTest::newRow("script that does not load")
            << QByteArray("add_tune = ") << u":1: unexpected symbol near <eof>\n"_s;
        QTest::newRow("no handler")
            << QByteArray("-- nothing here") << u": the script has no function 'add_tune'\n"_s;
    }
    void failureRaisesOnlyDuringACapture()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, logged);
        writeUserScript(script);
        const QString line = u"Error adding to playlist: "_s + userScript() + logged;
        auto recording = station();

        recording->logText.clear();
        QVERIFY(!failingHandoffRaises(*recording));
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
        QVERIFY(failingHandoffRaises(*recording));
        QCOMPARE(recording->logText, line);
        recording->conn.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

QTEST_GUILESS_MAIN(TestHandoff)
#include "tst_handoff.moc"
