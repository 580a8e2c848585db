#pragma once

#include <array>
#include <memory>

#include <QObject>

class QSocketNotifier;

// SIGTERM (the desktop session ending, a service manager stopping Skyvane),
// SIGINT (Ctrl+C) and SIGHUP (its terminal closing) as a Qt signal from the
// event loop, so that Skyvane ends its captures and stores its list instead of
// dying with them. A signal handler may do next to nothing: it writes the
// signal's number into a pipe whose other end the event loop watches. One
// object at a time per process; its end restores the default handlers.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPipe();

    std::array<int, 2> m_pipe{-1, -1}; // read end, write end
    std::unique_ptr<QSocketNotifier> m_notifier;
};
