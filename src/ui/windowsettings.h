#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// What the window remembers across restarts, kept apart from the list of
// recordings: $XDG_CONFIG_HOME/Skyvane/Skyvane.conf.
namespace WindowSettings {

QByteArray geometry();
void setGeometry(const QByteArray &geometry);
// The name of the recording last shown; "" when none.
QString lastRecording();
void setLastRecording(const QString &name);
// Whether the user has been told that closing leaves Skyvane in the tray.
bool toldAboutTray();
void setToldAboutTray();
// Whether a capture's start is notified; off unless chosen.
bool notifyStarts();
void setNotifyStarts(bool notify);

// The radio directory searched for stations; its public address unless set.
QUrl directoryUrl();

} // namespace WindowSettings
