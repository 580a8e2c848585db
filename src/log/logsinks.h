#pragma once

#include <QString>

// The window's log text view, as a recording sees it while attached. The
// recording borrows it; the window owns it.
class LogView
{
public:
    virtual ~LogView() = default;
    // Replaces the whole text.
    virtual void setString(const QString &text) = 0;
    // Scrolls so that the given range of characters is visible.
    virtual void scrollRangeToVisible(qsizetype start, qsizetype length) = 0;
};

// The window's progress bar (0 to 100).
class ProgressBar
{
public:
    virtual ~ProgressBar() = default;
    virtual void setDoubleValue(double value) = 0;
};
