#pragma once

#include <optional>

#include <QDateTime>
#include <QString>

// Where the tracks of a split recording go, as the user words it: a pattern such
// as "{station}/{artist} - {title}", "/" between the folders below the track folder.
//
// Fields: {station} {artist} {title} {album}; {date} (2026-12-09); {time} (14-05:
// shared disks refuse colons); {counter} (01, 02, ...: the track's number within
// its capture). Their names ignore letter case; any other {name} stays as written.
//
// Each part, folder or name, is cleaned as a track's file name is (TrackName),
// loses the spaces at its ends and is cut to 255 bytes. A part left empty is
// dropped: one that was only dots ("." or "..") goes that way too. So no part can
// lead upwards or start hidden, and the path is never absolute, whatever a
// station sends: the text of a field stays within its part ("AC/DC" is "AC_DC").
// Folders past the eighth are dropped.
struct TrackPattern
{
    struct Fields
    {
        QString station;
        QString artist;
        QString title;
        QString album;
        QDateTime time;
        int counter = 0; // from 1; 0 leaves {counter} empty

        // The artist and title of a stream title "Artist - Title", split at its
        // first " - "; a title without one is all title. A "Start of " or
        // "End of " in front stays on the title, as it does on the title tag.
        static Fields fromStreamTitle(const QString &streamTitle);
    };

    static constexpr int maxFolders = 8;

    // The stem ("folder/sub/name") of a track named by `pattern`, relative to
    // the track folder, without extension; std::nullopt when the pattern is
    // empty or every part of it comes out empty (then the usual name applies).
    static std::optional<QString> relativeStem(const QString &pattern, const Fields &fields);
};
