#pragma once

#include <QString>
#include <QUrl>

// `skyvane --search TERMS`: searches the radio directory and prints one
// station a line, best first: name, codec, bitrate, country and stream
// address, tab-separated. Exit code 0 with stations, 1 with none, 2 when the
// directory could not be searched (the reason on standard error). Needs no
// display and never touches the list file.
int runDirectorySearch(const QString &terms, const QUrl &directory);
