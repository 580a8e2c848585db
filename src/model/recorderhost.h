#pragma once

// What the core asks of whoever hosts the recordings: the window controller, or
// the headless runner. Capture code calls these at the start and end of every
// capture, so each must stay safe to call at any time, window or no window.
class RecorderHost
{
public:
    virtual ~RecorderHost() = default;
    // Turns one weekday button off (0 Monday ... 6 Sunday).
    virtual void clearDay(int index) = 0;
    // Refreshes which editor controls are enabled.
    virtual void enableButtons() = 0;
    // Writes the whole recording list file.
    virtual void storeRecList() = 0;
};

// The one global host; nullptr until a host sets itself up.
extern RecorderHost *recorder;
