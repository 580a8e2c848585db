#include "app/terminationsignals.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

constexpr std::array handledSignals{SIGTERM, SIGINT, SIGHUP};

// The pipe's write end, for the handler: the only state it may touch.
volatile std::sig_atomic_t writeEnd = -1;

extern "C" void onTerminationSignal(int signalNumber)
{
    // The interrupted code may be about to read errno.
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    errno = savedErrno;
}

void handleWith(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : handledSignals)
        sigaction(signalNumber, &action, nullptr);
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    // Without a pipe the signals keep their default: they end the process.
    if (::pipe2(m_pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this,
                     &TerminationSignals::readPipe);
    writeEnd = m_pipe[1];
    handleWith(onTerminationSignal);
}

TerminationSignals::~TerminationSignals()
{
    if (m_pipe[1] >= 0)
        handleWith(SIG_DFL);
    writeEnd = -1;
    m_notifier.reset();
    for (const int fd : m_pipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

// Signals that came together are one request to end.
void TerminationSignals::readPipe()
{
    char byte = 0;
    int last = 0;
    while (::read(m_pipe[0], &byte, 1) > 0)
        last = byte;
    if (last != 0)
        Q_EMIT received(last);
}
