#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

// Fires due() at a wall-clock time read from Clock. A start more than ten
// minutes off is re-checked every five minutes, so a changed system clock is
// noticed in time; the last stretch is one precise timer. After the computer
// wakes, or the clock jumps, it checks at once. An invalid date never fires.
class StartTimer : public QObject
{
    Q_OBJECT

public:
    explicit StartTimer(QObject *parent = nullptr);

    void start(const QDateTime &when);
    void stop();
    bool isActive() const { return m_timer.isActive(); }

Q_SIGNALS:
    void due();

private:
    void check();
    void arm(const QDateTime &fireDate);

    QTimer m_timer;
    QDateTime m_when;
};
