#include "values/outcome.h"

#include <QLocale>

QString Outcome::tracksSavedText(int count)
{
    return count == 1 ? QStringLiteral("1 track saved")
                      : QStringLiteral("%1 tracks saved").arg(count);
}

QString Outcome::summary() const
{
    QString saved = tracksSavedText(tracksSaved);
    if (!lastTitle.isEmpty())
        saved += QStringLiteral(", the last “%1”").arg(lastTitle);
    if (!error())
        return QStringLiteral("Recording ended: %1").arg(saved);
    QString text = QStringLiteral("Recording failed: %1\n%2").arg(errorText, saved);
    if (resumeAt.isValid())
        text += QStringLiteral("; trying again at %1")
                    .arg(QLocale::system().toString(resumeAt.time(), QLocale::LongFormat));
    return text;
}
