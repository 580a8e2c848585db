#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>

#include "app/directorysearchcommand.h"
#include "app/headlessrunner.h"
#include "app/probecommand.h"
#include "app/webpasswordcommand.h"
#include "app/instancelock.h"
#include "app/listcommand.h"
#include "app/terminationsignals.h"
#include "directory/directoryclient.h"
#include "handoff/handoffqueue.h"
#include "platform/descriptorlimit.h"
#include "ui/alerts.h"
#include "ui/mainwindow.h"
#include "web/webrequest.h"

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
    parser.addOption(QCommandLineOption(
        QStringLiteral("minimized"),
        QStringLiteral("Start hidden in the tray (as when started with the desktop).")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("search"),
        QStringLiteral("Search the radio directory for stations by name; print one a line."),
        QStringLiteral("terms")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("probe"),
        QStringLiteral("Try a station for up to ten seconds and print what it sends."),
        QStringLiteral("url")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("web-ui"),
        QStringLiteral("With --headless: serve a web page to manage the recordings, on "
                       "127.0.0.1 unless an address is given."),
        QStringLiteral("[address:]port")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("set-web-password"),
        QStringLiteral("Read the web page's password from one line of standard input.")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("list"),
        QStringLiteral("Print every recording: name, next start, state, last result.")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("add"),
        QStringLiteral("Add a recording of the station URL: skyvane --add NAME URL --at HH:MM "
                       "--for MINUTES [--days mon,tue,...|--daily|--once] [--split]."),
        QStringLiteral("name")));
    parser.addOption(QCommandLineOption(QStringLiteral("at"),
                                        QStringLiteral("With --add: the start time."),
                                        QStringLiteral("HH:MM")));
    parser.addOption(QCommandLineOption(QStringLiteral("for"),
                                        QStringLiteral("With --add: the minutes to record."),
                                        QStringLiteral("minutes")));
    parser.addOption(QCommandLineOption(QStringLiteral("days"),
                                        QStringLiteral("With --add: the weekdays to record on."),
                                        QStringLiteral("mon,tue,...")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("daily"), QStringLiteral("With --add: record every day (the default).")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("once"), QStringLiteral("With --add: record once, then turn the day off.")));
    parser.addOption(QCommandLineOption(QStringLiteral("split"),
                                        QStringLiteral("With --add: one file per song.")));
    parser.addOption(QCommandLineOption(QStringLiteral("remove"),
                                        QStringLiteral("Delete the recording of that name."),
                                        QStringLiteral("name")));
    parser.addOption(
        QCommandLineOption(QStringLiteral("now"),
                           QStringLiteral("Start the recording of that name now (in the "
                                          "running headless Skyvane)."),
                           QStringLiteral("name")));
    parser.addOption(QCommandLineOption(QStringLiteral("stop"),
                                        QStringLiteral("Stop the recording of that name."),
                                        QStringLiteral("name")));
    parser.addOption(
        QCommandLineOption(QStringLiteral("directory"),
                           QStringLiteral("The radio directory's address (default %1).")
                               .arg(DirectoryClient::defaultBaseUrl().toString()),
                           QStringLiteral("url")));
}

std::optional<QUrl> directoryOption(const QCommandLineParser &parser)
{
    if (!parser.isSet(QStringLiteral("directory")))
        return std::nullopt;
    return QUrl(parser.value(QStringLiteral("directory")));
}

// Joins the hand-off thread once the list is on the disk; quitting has given
// the scripts their time already (RecordingList::stopAll), this a last grace to
// one asked to stop just now. A script stuck in one C call (a pattern that
// backtracks, a hung network share) cannot be stopped, and its thread not
// joined: static destructors and Qt's teardown would pull Lua, TagLib and Qt
// from under it. Skyvane then ends here without them; the list is stored, so
// flushing the output is all that is left to do.
int endHandoffs(int result)
{
    const auto deadline = std::chrono::steady_clock::now() + HandoffQueue::quitGrace;
    if (HandoffQueue::shared().shutdown(deadline))
        return result;
    std::fprintf(stderr, "skyvane: a hand-off script did not stop; ending without it\n");
    std::fflush(nullptr);
    std::quick_exit(result);
}

int runHeadless(const QCommandLineParser &parser)
{
    // A wrong address is told before any recording is planned.
    std::optional<WebRequest::ListenAddress> webPage;
    if (parser.isSet(QStringLiteral("web-ui"))) {
        auto where = WebRequest::parseListenAddress(parser.value(QStringLiteral("web-ui")));
        if (const QString *wrong = std::get_if<QString>(&where)) {
            std::fprintf(stderr, "skyvane: %s\n", qUtf8Printable(*wrong));
            return 1;
        }
        webPage = std::get<WebRequest::ListenAddress>(where);
    }
    int result = 0;
    {
        HeadlessRunner runner;
        if (!runner.start(webPage.has_value()))
            return 1;
        const QString failure =
            webPage ? runner.serveWebPage(*webPage, directoryOption(parser).value_or(
                                                        DirectoryClient::defaultBaseUrl()))
                    : QString();
        if (!failure.isEmpty()) {
            std::fprintf(stderr, "skyvane: %s\n", qUtf8Printable(failure));
            runner.shutDown();
            return endHandoffs(1);
        }
        result = QCoreApplication::exec();
    } // quitting has stored the list (HeadlessRunner::shutDown)
    return endHandoffs(result);
}

int runWindow(InstanceLock &lock, bool minimized, const std::optional<QUrl> &directory)
{
    // Lets the desktop match the window to skyvane.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("skyvane"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("skyvane")));
    lock.listenForShowRequests();
    TerminationSignals termination;
    // A hidden window, a closed menu or message box must not end Skyvane: the
    // window says when to quit.
    QApplication::setQuitOnLastWindowClosed(false);
    MainWindow window;
    if (directory)
        window.setDirectoryUrl(*directory);
    QObject::connect(&window, &MainWindow::quitRequested, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(&lock, &InstanceLock::showRequested, &window, &MainWindow::bringToFront);
    QObject::connect(&termination, &TerminationSignals::received, &window, [&window] {
        // As the session ends no one may be there to answer an alert, which
        // would hold up the ending: alerts go to standard error from now on,
        // answered with their safe default, and Skyvane quits, never into the tray.
        setAlertPresenter([](QWidget *, const Alert &alert) {
            std::fprintf(stderr, "skyvane: %s: %s\n", qUtf8Printable(alert.title),
                         qUtf8Printable(alert.text));
            return AlertAnswer::Default;
        });
        window.quitNow();
        QApplication::quit();
    });
    // Without a tray a hidden window could not be reached.
    if (!minimized || !window.hasTray())
        window.show();
    const int result = QApplication::exec();
    // Closing the window has saved the editor and ended the captures; this
    // ends whatever started since, or everything when the application quit
    // another way, before the recordings go.
    window.stopAndSave();
    return endHandoffs(result);
}

// Says on standard error why Skyvane ends; a window start shows it in an alert
// too, as from a desktop menu nobody sees standard error (offscreen nobody sees a box).
int refuse(const QString &title, const QString &text, bool headless)
{
    std::fprintf(stderr, "skyvane: %s\n", qUtf8Printable(text));
    if (!headless && QGuiApplication::platformName() != QStringLiteral("offscreen"))
        runAlert(nullptr, Alert{title, text, {}, {}});
    return 1;
}

// Another copy holds the list: a window start brings that copy's window to the
// front; otherwise the start says which process holds the list, and ends.
int leaveToHolder(const InstanceLock &lock, bool headless)
{
    if (!headless && lock.askHolderToShow())
        return 0;
    QString text =
        QStringLiteral("Skyvane is already running on %1").arg(RecordingList::filePath());
    if (const std::optional<qint64> holder = lock.holder())
        text += QStringLiteral(" (process %1)").arg(*holder);
    if (!headless)
        text += QStringLiteral(" without a window; end it to open the window");
    return refuse(QStringLiteral("Skyvane is already running"), text, headless);
}

// Without the lock nothing would keep a second copy off the list.
int leaveUnlocked(const InstanceLock &lock, bool headless)
{
    return refuse(QStringLiteral("Skyvane cannot lock its list"),
                  QStringLiteral("Skyvane does not run on %1 without its lock: %2")
                      .arg(RecordingList::filePath(), lock.failure()),
                  headless);
}

} // namespace

int main(int argc, char *argv[])
{
    DescriptorLimit::raiseSoftLimit();
    // Past a file-size limit (ulimit -f) a write fails with EFBIG, reported
    // like a full disk, instead of the signal killing Skyvane unsaved.
    std::signal(SIGXFSZ, SIG_IGN);
    // Without a window Skyvane needs no display at all, as on a server.
    const bool headless = hasArgument(argc, argv, {"--headless"});
    const bool answerOnly = hasArgument(argc, argv,
                                        {"-h", "--help", "--help-all", "-?", "-v", "--version",
                                         "--search", "--probe", "--set-web-password", "--list",
                                         "--add", "--remove", "--now", "--stop", "--web-ui"});
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
    // Neither the directory nor a station's try is the list: no lock, no list file.
    if (parser.isSet(QStringLiteral("probe")))
        return runProbe(parser.value(QStringLiteral("probe")));
    if (parser.isSet(QStringLiteral("search")))
        return runDirectorySearch(
            parser.value(QStringLiteral("search")),
            directoryOption(parser).value_or(DirectoryClient::defaultBaseUrl()));

    if (parser.isSet(QStringLiteral("set-web-password")))
        return runSetWebPassword();
    // These take the lock themselves, or hand the change to the list's holder.
    if (ListCommand::isAsked(parser))
        return ListCommand::run(parser);

    if (!headless && parser.isSet(QStringLiteral("web-ui"))) {
        std::fprintf(stderr, "skyvane: --web-ui serves the page of a Skyvane without a window: "
                             "add --headless.\n");
        return 2;
    }

    // Before the list is read: what another copy holds is not ours to read.
    InstanceLock lock(RecordingList::filePath());
    switch (lock.tryLock()) {
    case InstanceLock::Outcome::Held:
        return leaveToHolder(lock, headless);
    case InstanceLock::Outcome::Unavailable:
        return leaveUnlocked(lock, headless);
    case InstanceLock::Outcome::Locked:
        break;
    }
    if (headless)
        return runHeadless(parser);
    return runWindow(lock, parser.isSet(QStringLiteral("minimized")), directoryOption(parser));
}
