#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// What the tray icon says: its tooltip and the names of its menu items, built
// from plain figures, so they are checked without a desktop tray or a capture.
namespace TrayText {

// A capture under way.
struct Capture
{
    QString name;
    QString title; // the song being captured; "" when none is
    qint64 secondsLeft = 0;
};

// The next planned start; none when `when` is invalid.
struct NextStart
{
    QString name;
    QDateTime when;
};

// Each capture on a line of its own with its song and the time left, or,
// with none, the next start, if any, as near `now` as it is told in the
// overview. Names and titles are the user's and the stations' words: where Qt
// would read them as markup the result is escaped, ready for setToolTip().
QString toolTip(const QList<Capture> &captures, const NextStart &next = {},
                const QDateTime &now = {});

// The menu item that ends one capture: `Stop “name”`, with every '&' of the
// name shown as such instead of marking a shortcut.
QString stopText(const QString &name);

} // namespace TrayText
