#include "ui/windowsettings.h"

#include <QSettings>

#include "directory/directoryclient.h"

namespace WindowSettings {

namespace {

// Named here rather than by the application object, which tests do not name.
QSettings settings()
{
    return QSettings(QStringLiteral("Skyvane"), QStringLiteral("Skyvane"));
}

const QString geometryKey = QStringLiteral("window/geometry");
const QString lastRecordingKey = QStringLiteral("window/lastRecording");
const QString toldAboutTrayKey = QStringLiteral("window/toldAboutTray");
const QString notifyStartsKey = QStringLiteral("notifications/starts");

} // namespace

QByteArray geometry()
{
    return settings().value(geometryKey).toByteArray();
}

void setGeometry(const QByteArray &geometry)
{
    settings().setValue(geometryKey, geometry);
}

QString lastRecording()
{
    return settings().value(lastRecordingKey).toString();
}

void setLastRecording(const QString &name)
{
    settings().setValue(lastRecordingKey, name);
}

bool toldAboutTray()
{
    return settings().value(toldAboutTrayKey, false).toBool();
}

void setToldAboutTray()
{
    settings().setValue(toldAboutTrayKey, true);
}

bool notifyStarts()
{
    return settings().value(notifyStartsKey, false).toBool();
}

void setNotifyStarts(bool notify)
{
    settings().setValue(notifyStartsKey, notify);
}

QUrl directoryUrl()
{
    const QUrl url = settings().value(QStringLiteral("directory/url")).toUrl();
    return url.isValid() && !url.isEmpty() ? url : DirectoryClient::defaultBaseUrl();
}

} // namespace WindowSettings
