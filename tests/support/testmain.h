#pragma once

#include <cstdio>
#include <cstdlib>

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Every test executable runs in a scratch home of its own, made before anything
// asks for a path: run by hand, outside CTest, it still never touches the
// user's list, music folder or scripts.
namespace TestHome {

inline void enter(const QString &root)
{
    const QByteArray home = QFile::encodeName(root);
    qputenv("HOME", home);
    qputenv("XDG_DATA_HOME", home + "/.local/share");
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_CACHE_HOME", home + "/.cache");
    qputenv("XDG_RUNTIME_DIR", home + "/.runtime");
    QDir().mkpath(root + QStringLiteral("/.runtime"));
    QFile::setPermissions(root + QStringLiteral("/.runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qunsetenv("XDG_MUSIC_DIR");
    qputenv("LC_ALL", "C.UTF-8");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Refuses to run when a folder Skyvane writes to lies outside the scratch home.
inline void verify(const QString &root)
{
    for (const auto location : {QStandardPaths::GenericDataLocation, QStandardPaths::MusicLocation,
                                QStandardPaths::ConfigLocation}) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.startsWith(root + u'/')) {
            std::fprintf(stderr, "test refuses to run: %s is outside the scratch home %s\n",
                         qUtf8Printable(path), qUtf8Printable(root));
            std::exit(2);
        }
    }
}

} // namespace TestHome

// QTEST_MAIN / QTEST_GUILESS_MAIN with the scratch home made first.
#define SKYVANE_TEST_MAIN_WITH(Application, TestObject)                                            \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/skyvane-test-XXXXXX"));          \
        if (!scratch.isValid())                                                                    \
            return 2;                                                                              \
        TestHome::enter(scratch.path());                                                           \
        Application app(argc, argv);                                                               \
        TestHome::verify(scratch.path());                                                          \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

#define SKYVANE_TEST_MAIN(TestObject) SKYVANE_TEST_MAIN_WITH(QApplication, TestObject)
#define SKYVANE_TEST_GUILESS_MAIN(TestObject) SKYVANE_TEST_MAIN_WITH(QCoreApplication, TestObject)
