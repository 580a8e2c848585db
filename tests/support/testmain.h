#pragma once

#include <cstdio>

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Every test executable runs in a scratch home of its own, made before anything
// asks for a path: run by hand, outside CTest, it still never touches the
// user's list, music folder or scripts, and it refuses to run if it would.
inline bool enterScratchHome(const QString &root)
{
    const QByteArray home = QFile::encodeName(root);
    qputenv("HOME", home);
    qputenv("XDG_DATA_HOME", home + "/.local/share");
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_CACHE_HOME", home + "/.cache");
    qputenv("XDG_RUNTIME_DIR", home);
    // No system bus: a test must never take a sleep lock from the machine's logind.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + home + "/no-system-bus");
    qputenv("LC_ALL", "C.UTF-8");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    for (const auto location : {QStandardPaths::GenericDataLocation, QStandardPaths::MusicLocation,
                                QStandardPaths::ConfigLocation}) {
        if (!QStandardPaths::writableLocation(location).startsWith(root + u'/')) {
            std::fprintf(stderr, "test refuses to run: %s is outside the scratch home\n",
                         qUtf8Printable(QStandardPaths::writableLocation(location)));
            return false;
        }
    }
    return true;
}

// QTEST_MAIN / QTEST_GUILESS_MAIN with the scratch home made first.
#define SKYVANE_TEST_MAIN_WITH(Application, TestObject)                                            \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/skyvane-test-XXXXXX"));          \
        if (!scratch.isValid() || !enterScratchHome(scratch.path()))                               \
            return 2;                                                                              \
        Application app(argc, argv);                                                               \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

#define SKYVANE_TEST_MAIN(TestObject) SKYVANE_TEST_MAIN_WITH(QApplication, TestObject)
#define SKYVANE_TEST_GUILESS_MAIN(TestObject) SKYVANE_TEST_MAIN_WITH(QCoreApplication, TestObject)
