#include <cstring>
#include <memory>

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>

#include "app/headlessrunner.h"
#include "ui/mainwindow.h"

namespace {

bool hasArgument(int argc, char *argv[], std::initializer_list<const char *> names)
{
    for (int i = 1; i < argc; ++i) {
        for (const char *name : names) {
            if (std::strcmp(argv[i], name) == 0)
                return true;
        }
    }
    return false;
}

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Records internet radio stations on a schedule into track files, one per song."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        QStringLiteral("headless"),
        QStringLiteral("Run every recording without a window, logging to standard output.")));
}

int runHeadless()
{
    HeadlessRunner runner;
    if (!runner.start())
        return 1;
    return QCoreApplication::exec();
}

int runWindow()
{
    // Lets the desktop match the window to skyvane.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("skyvane"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("skyvane")));
    MainWindow window;
    window.show();
    const int result = QApplication::exec();
    // Closing the window has ended the captures and saved the editor; when the
    // application quit another way (the session ending), that happens now,
    // before the recordings go.
    window.stopAndSave();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    // Without a window Skyvane needs no display at all, as on a server.
    const bool headless = hasArgument(argc, argv, {"--headless"});
    const bool answerOnly =
        hasArgument(argc, argv, {"-h", "--help", "--help-all", "-?", "-v", "--version"});
    std::unique_ptr<QCoreApplication> app;
    if (headless || answerOnly)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Skyvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SKYVANE_VERSION));

    QCommandLineParser parser;
    describe(parser);
    parser.process(*app);

    if (headless)
        return runHeadless();
    return runWindow();
}
