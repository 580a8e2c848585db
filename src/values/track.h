#pragma once

#include <QString>

// A finished track file as the capture passes it on, to the disk sync and the
// music-library hand-off: where it is and what it holds, not the file itself.
struct Track
{
    QString path;
    QString title;
    bool madeTitle = false; // named from the recording and the time, not sent
    qint64 size = 0;        // bytes
    qint64 playingMs = 0;   // how long it was being captured
    QString stationGenre;   // as the station announced it; "" when it did not
};
