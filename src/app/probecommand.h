#pragma once

#include <QString>

// `skyvane --probe URL`: connects to a station for up to ten seconds and
// prints what "Try" shows, one "key: value" line each (url, codec, bitrate,
// samplerate, titles, title, problem). Exit code 0 when the station answered
// with audio, 1 otherwise. Needs no display and never touches the list file.
int runProbe(const QString &url);
