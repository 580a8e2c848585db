#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "handoff/luahost.h"
#include "handoff/scriptrunner.h"

using namespace Qt::StringLiterals;

namespace {

// Lua shortens file names beyond 59 bytes in its messages; scripts here live
// deeper than that, so the tests see that the log gets the whole name back.
const QString longFolder = u"a-folder-whose-name-is-long-enough-for-lua-to-shorten-it"_s;

const QByteArray errorScript = R"(function plain() error("boom") end
function unplaced() error("boom", 0) end
function calls_nil() local f; f() end
function bad_host() skyvane.tag(nil) end
function object() error({}) end
function deeper() plain() end
function bad_tag() skyvane.tag("x.mp3", {title = {}}) end
function quits() os.exit(1) end
)";

} // namespace

class TestScriptRunner : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    int m_scripts = 0;

    QString writeScript(const QByteArray &source, const QString &folder = QString())
    {
        const QString dir = m_home.filePath(folder.isEmpty() ? u"scripts"_s : folder);
        QDir().mkpath(dir);
        const QString path = dir + u"/script%1.lua"_s.arg(++m_scripts);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(source) != source.size())
            qFatal("cannot write a test script");
        return path;
    }

    // A runner with the script loaded, or none (and a failed check) when it won't load.
    std::unique_ptr<ScriptRunner> runnerFor(const QByteArray &source, QString *path = nullptr)
    {
        auto runner = std::make_unique<ScriptRunner>();
        const QString scriptPath = writeScript(source, longFolder);
        QString error;
        if (!runner->loadFile(scriptPath, error)) {
            qWarning("load failed: %s", qPrintable(error));
            return nullptr;
        }
        if (path)
            *path = scriptPath;
        return runner;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        // Whatever runs this, the host functions only ever see this folder.
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u".local/share"_s)));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u".config"_s)));
    }

    void passesArgumentsInOrder()
    {
        auto runner = runnerFor(R"(function describe(...)
            local parts = {}
            for i = 1, select('#', ...) do
                local v = select(i, ...)
                parts[#parts + 1] = (math.type(v) or type(v)) .. ":" .. tostring(v)
            end
            return table.concat(parts, "|")
        end)");
        QVERIFY(runner);
        QString error;
        const QString tricky = u"Кино \"q\" / 'x'\nline two \U0001F3B5"_s;
        const auto result = runner->callHandler(
            u"describe"_s, {u"first"_s, tricky, QString(), qint64(1048576)}, error);
        QVERIFY2(result, qPrintable(error));
        QCOMPARE(result->toString(),
                 u"string:first|string:"_s + tricky + u"|string:|integer:1048576"_s);
    }

    void givesTheHandlerResult_data()
    {
        QTest::addColumn<QString>("handler");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("no value") << u"none"_s << QVariant();
        QTest::newRow("false still counts") << u"no"_s << QVariant(false);
        QTest::newRow("integer") << u"int"_s << QVariant(qint64(42));
        QTest::newRow("float") << u"float"_s << QVariant(1.5);
        QTest::newRow("text") << u"text"_s << QVariant(u"héllo"_s);
        QTest::newRow("table by its type") << u"tbl"_s << QVariant(u"table"_s);
    }
    void givesTheHandlerResult()
    {
        QFETCH(QString, handler);
        QFETCH(QVariant, expected);
        auto runner = runnerFor(R"(function none() end
            function no() return false end
            function int() return 42 end
            function float() return 1.5 end
            function text() return "héllo" end
            function tbl() return {} end)");
        QVERIFY(runner);
        QString error;
        const auto result = runner->callHandler(handler, {}, error);
        QVERIFY2(result, qPrintable(error));
        QCOMPARE(*result, expected);
    }

    void errorsSayWhereTheScriptWas_data()
    {
        QTest::addColumn<QString>("handler");
        QTest::addColumn<QString>("expectedStart");
        QTest::newRow("error") << u"plain"_s << u":1: boom"_s;
        QTest::newRow("error without position") << u"unplaced"_s << u":2: boom"_s;
        QTest::newRow("runtime error") << u"calls_nil"_s << u":3: attempt to call a nil"_s;
        QTest::newRow("host argument") << u"bad_host"_s << u":4: bad argument #1 to 'tag'"_s;
        QTest::newRow("error object") << u"object"_s << u":5: table: "_s;
        QTest::newRow("raised deeper") << u"deeper"_s << u":1: boom"_s;
        QTest::newRow("host tag type")
            << u"bad_tag"_s << u":7: tag 'title' must be a string, not table"_s;
        QTest::newRow("exit refused") << u"quits"_s << u":8: os.exit would end Skyvane"_s;
        QTest::newRow("missing handler")
            << u"absent"_s << u": the script has no function 'absent'"_s;
    }
    void errorsSayWhereTheScriptWas()
    {
        QFETCH(QString, handler);
        QFETCH(QString, expectedStart);
        QString path;
        auto runner = runnerFor(errorScript, &path);
        QVERIFY(runner);
        QString error;
        QVERIFY(!runner->callHandler(handler, {}, error));
        QVERIFY2(error.startsWith(path + expectedStart), qPrintable(error));
        QVERIFY(runner->isLoaded()); // a failed call keeps the script
    }

    void loadFailuresLeaveTheSlotEmpty_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("expected");
        QTest::newRow("syntax error") << QByteArray("function broken(\n") << u":2:"_s;
        QTest::newRow("error at the top")
            << QByteArray("error('at the top')") << u":1: at the top"_s;
        QTest::newRow("binary chunk")
            << QByteArray("\x1bLua\x54\x00", 6) << u"attempt to load a binary chunk"_s;
        QTest::newRow("endless top level") << QByteArray("while true do end") << u"took too long"_s;
    }
    void loadFailuresLeaveTheSlotEmpty()
    {
        QFETCH(QByteArray, source);
        QFETCH(QString, expected);
        ScriptRunner runner;
        QString error;
        QVERIFY(runner.loadFile(writeScript("function ok() return 1 end"), error));
        const QString path = writeScript(source);
        QVERIFY(!runner.loadFile(path, error));
        QVERIFY2(error.contains(expected), qPrintable(error));
        QVERIFY(!runner.isLoaded());
        QVERIFY(!runner.callHandler(u"ok"_s, {}, error));
        QCOMPARE(error, u"the script is not loaded"_s);
    }

    void missingOrUnreadableFilesNameTheFile()
    {
        ScriptRunner runner;
        QString error;
        const QString missing = m_home.filePath(u"nowhere/addTune.lua"_s);
        QVERIFY(!runner.loadFile(missing, error));
        QVERIFY2(error.startsWith(u"cannot open "_s + missing + u": "_s), qPrintable(error));
        QVERIFY(!runner.loadFile(m_home.path(), error)); // a folder
        QVERIFY2(error.startsWith(u"cannot read "_s + m_home.path()), qPrintable(error));
    }

    void runawayScriptsAreStopped_data()
    {
        QTest::addColumn<QString>("handler");
        QTest::addColumn<int>("timeLimitMs");    // 0: the default limits
        QTest::addColumn<int>("memoryLimitMiB"); // 0: the default limits
        QTest::addColumn<QString>("expected");
        QTest::newRow("loop") << u"spin"_s << 0 << 0 << u":1: the script took too long"_s;
        QTest::newRow("loop that catches errors") << u"sneaky"_s << 0 << 0 << u"took too long"_s;
        QTest::newRow("clock limit") << u"spin"_s << 20 << 0 << u"took too long"_s;
        QTest::newRow("memory") << u"hog"_s << 0 << 16 << u"not enough memory"_s;
        QTest::newRow("recursion") << u"recurse"_s << 0 << 0 << u"stack overflow"_s;
    }
    void runawayScriptsAreStopped()
    {
        QFETCH(QString, handler);
        QFETCH(int, timeLimitMs);
        QFETCH(int, memoryLimitMiB);
        QFETCH(QString, expected);
        auto runner = runnerFor(R"(function spin() while true do end end
            function sneaky() while true do pcall(function() while true do end end) end end
            function hog() local t = {} for i = 1, math.maxinteger do t[i] = ("x"):rep(65536) .. i end end
            function recurse() return 1 + recurse() end
            function fine() return "still here" end)");
        QVERIFY(runner);
        ScriptRunner::Limits limits;
        if (timeLimitMs > 0) {
            limits.instructions = std::numeric_limits<qint64>::max();
            limits.time = std::chrono::milliseconds(timeLimitMs);
        }
        if (memoryLimitMiB > 0)
            limits.memoryBytes = qint64(memoryLimitMiB) << 20;
        runner->setLimits(limits);
        QString error;
        QVERIFY(!runner->callHandler(handler, {}, error));
        QVERIFY2(error.contains(expected), qPrintable(error));
        // The state survives: the next call runs normally.
        const auto result = runner->callHandler(u"fine"_s, {}, error);
        QVERIFY2(result, qPrintable(error));
        QCOMPARE(result->toString(), u"still here"_s);
    }

    void hostFunctionsReportTrouble()
    {
        auto runner = runnerFor(R"(function music() return skyvane.music_folder() end
            function show(ok, why) return tostring(ok) .. ":" .. tostring(why) end
            function make(path) return show(skyvane.make_folder(path)) end
            function tag(path) return show(skyvane.tag(path, {title = "x"})) end
            function safe(text) return skyvane.file_name_safe(text) end)");
        QVERIFY(runner);
        QString error;
        auto call = [&](const QString &handler, const QList<ScriptArgument> &arguments) {
            const auto result = runner->callHandler(handler, arguments, error);
            return result ? result->toString() : u"failed: "_s + error;
        };
        QCOMPARE(call(u"music"_s, {}),
                 QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
        QCOMPARE(call(u"music"_s, {}), m_home.filePath(u"Music"_s));

        const QString nested = m_home.filePath(u"made/in/one/go"_s);
        QCOMPARE(call(u"make"_s, {nested}), u"true:nil"_s);
        QVERIFY(QFileInfo(nested).isDir());
        const QString plainFile = writeScript("not a folder");
        QCOMPARE(call(u"make"_s, {plainFile + u"/below"_s}),
                 u"false:cannot create the folder "_s + plainFile + u"/below"_s);

        QCOMPARE(call(u"tag"_s, {m_home.filePath(u"missing.mp3"_s)}), u"false:no such file"_s);
        const QString stream = m_home.filePath(u"stream.nsv"_s);
        QFile untaggable(stream);
        QVERIFY(untaggable.open(QIODevice::WriteOnly));
        untaggable.write(QByteArray(4096, '\x5a'));
        untaggable.close();
        QCOMPARE(call(u"tag"_s, {stream}), u"false:TagLib cannot tag this kind of file"_s);

        QCOMPARE(call(u"safe"_s, {u"AC/DC\n"_s}), u"AC_DC_"_s);
    }

    void fileNamesAreMadeSafe_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << u"My Skyvane Recordings"_s << u"My Skyvane Recordings"_s;
        QTest::newRow("slash") << u"AC/DC"_s << u"AC_DC"_s;
        QTest::newRow("NUL") << QString(u"a\0b"_s) << u"a_b"_s;
        QTest::newRow("tab and line break") << u"a\tb\nc\r"_s << u"a_b_c_"_s;
        QTest::newRow("C1 control") << u"x\u0085y"_s << u"x_y"_s;
        QTest::newRow("empty") << QString() << u"_"_s;
        QTest::newRow("dot") << u"."_s << u"_"_s;
        QTest::newRow("dot dot") << u".."_s << u"__"_s;
        QTest::newRow("three dots are a name") << u"..."_s << u"..."_s;
        QTest::newRow("hidden name kept") << u".mix"_s << u".mix"_s;
        QTest::newRow("non-Latin and emoji") << u"Кино 🎵 ‘quotes’"_s << u"Кино 🎵 ‘quotes’"_s;
        QTest::newRow("cut to 240 bytes") << QString(300, u'a') << QString(240, u'a');
        QTest::newRow("cut between characters") << QString(121, u'é') << QString(120, u'é');
        QTest::newRow("cut keeps surrogate pairs") << u"🎵"_s.repeated(61) << u"🎵"_s.repeated(60);
    }
    void fileNamesAreMadeSafe()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(LuaHost::fileNameSafe(text), expected);
    }
};

QTEST_GUILESS_MAIN(TestScriptRunner)
#include "tst_scriptrunner.moc"
