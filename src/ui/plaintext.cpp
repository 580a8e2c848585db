#include "ui/plaintext.h"

#include <QLabel>
#include <QString>
#include <QTextDocument>

namespace PlainText {

void enforce(QWidget *root)
{
    for (QLabel *label : root->findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
}

QString toolTip(const QString &text)
{
    // An empty tooltip is none at all; an escaped empty one would be a blank box.
    if (text.isEmpty())
        return {};
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

} // namespace PlainText
