#include "ui/traytext.h"

#include <QTextDocument>

#include "ui/plaintext.h"
#include "model/relativetime.h"

namespace TrayText {

QString toolTip(const QList<Capture> &captures, const NextStart &next, const QDateTime &now)
{
    QString text = QStringLiteral("Skyvane");
    if (!captures.isEmpty()) {
        text += QStringLiteral(" — recording %1:").arg(captures.size());
        for (const Capture &capture : captures) {
            text += u'\n' + capture.name + QStringLiteral(": ");
            if (!capture.title.isEmpty())
                text += u'“' + capture.title + QStringLiteral("”, ");
            text += RelativeTime::duration(capture.secondsLeft) + QStringLiteral(" left");
        }
    } else if (next.when.isValid()) {
        text +=
            QStringLiteral(" — next: %1 (%2)").arg(next.name, RelativeTime::text(next.when, now));
    }
    // Qt takes a tooltip for rich text only when it looks like markup, and a
    // desktop's tray may show it as plain text: escaped only then, it reads
    // right either way.
    return Qt::mightBeRichText(text) ? PlainText::toolTip(text) : text;
}

QString stopText(const QString &name)
{
    QString shown = name;
    shown.replace(u'&', QStringLiteral("&&"));
    return QStringLiteral("Stop “%1”").arg(shown);
}

} // namespace TrayText
