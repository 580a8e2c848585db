#pragma once

#include <optional>

#include <QString>
#include <QStringView>

// The parts of a stream title for the music library. Stations announce
// "Artist - Title", sometimes with an album or a track number in between; a
// recording that cut a song short marks its title with "Start of " and/or
// "End of ", and those marks stay on the title.
struct TitleSplit
{
    std::optional<QString> artist; // set only when the title names one
    std::optional<QString> album;  // set only when the title names one
    QString title;

    static TitleSplit fromTitle(QStringView streamTitle);
};
