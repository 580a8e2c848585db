#pragma once

#include <QString>

// "Start with the desktop": an XDG autostart entry that starts Skyvane hidden
// in the tray when the user logs in, so that scheduled recordings run without
// anyone opening the window.
namespace Autostart {

// $XDG_CONFIG_HOME/autostart/skyvane.desktop, computed afresh each time.
QString entryPath();
bool isEnabled();
// Writes or removes the entry. False when the file could not be written or
// removed.
bool setEnabled(bool enabled);

} // namespace Autostart
