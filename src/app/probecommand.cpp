#include "app/probecommand.h"

#include <cstdio>

#include <QEventLoop>

#include "capture/stationprobe.h"
#include "platform/textscan.h"

int runProbe(const QString &url)
{
    StationProbe probe;
    QEventLoop loop;
    ProbeReport report;
    QObject::connect(&probe, &StationProbe::finished, &loop, [&](const ProbeReport &found) {
        report = found;
        loop.quit();
    });
    probe.start(url);
    loop.exec();
    // A station's title must not steer the terminal.
    for (const QString &line : report.lines())
        std::printf("%s\n", qUtf8Printable(TextScan::escapeControls(line)));
    std::fflush(stdout);
    return report.audio ? 0 : 1;
}
