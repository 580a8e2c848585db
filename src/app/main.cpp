#include <cstdio>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include "app/headlessrunner.h"

namespace {

bool wantsHeadless(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0)
            return true;
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

} // namespace

int main(int argc, char *argv[])
{
    // Without a window Skyvane needs no display at all, as on a server.
    const bool headless = wantsHeadless(argc, argv);
    std::unique_ptr<QCoreApplication> app;
    if (headless)
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
    std::fprintf(stderr, "skyvane: the window is not built yet; use --headless.\n");
    return 1;
}
