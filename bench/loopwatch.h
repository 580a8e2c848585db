#pragma once

#include <algorithm>

#include <QElapsedTimer>
#include <QTimer>

// How long the event loop goes unserved: a timer asks every 10 ms, and the
// longest time between two of its turns is kept.
class LoopWatch
{
public:
    LoopWatch()
    {
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            m_longestGapMs = std::max(m_longestGapMs, m_sinceTick.restart());
        });
        m_ticker.start(10);
        m_sinceTick.start();
    }

    qint64 longestGapMs() const { return m_longestGapMs; }
    // Starts counting afresh, as for the next phase of a benchmark.
    void reset() { m_longestGapMs = 0; }

private:
    QElapsedTimer m_sinceTick;
    QTimer m_ticker;
    qint64 m_longestGapMs = 0;
};
