#include "app/headlessrunner.h"

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

namespace {

// Written by the signal handler, read by the event loop: the only safe way
// from a signal into Qt.
int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int signalNumber)
{
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

HeadlessRunner::HeadlessRunner(QObject *parent) : QObject(parent) {}

bool HeadlessRunner::start()
{
    watchTerminationSignals();
    m_list.load();
    if (m_list.isEmpty()) {
        std::fprintf(stderr, "skyvane: no recordings in %s; make some in the window first.\n",
                     qUtf8Printable(RecordingList::filePath()));
        return false;
    }
    for (int i = 0; i < m_list.size(); ++i) {
        const Recording *row = m_list.at(i);
        QObject::connect(row, &Recording::logAppended, this,
                         [row](const QString &message) { printLogLines(row->name(), message); });
    }
    m_list.scheduleAll();
    return true;
}

void HeadlessRunner::shutDown()
{
    m_list.stopAll();
    m_list.store();
}

void HeadlessRunner::watchTerminationSignals()
{
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_signalNotifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    QObject::connect(m_signalNotifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        while (::read(signalPipe[0], &byte, 1) > 0) {
        }
        shutDown();
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void HeadlessRunner::printLogLines(const QString &name, const QString &message)
{
    const QByteArray prefix = name.toUtf8() + ": ";
    const QStringList lines = message.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // The piece after a message's final line break is empty, not a line.
        if (i + 1 == lines.size() && lines[i].isEmpty())
            break;
        const QByteArray line = prefix + lines[i].toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    }
    std::fflush(stdout);
}
