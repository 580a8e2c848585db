#include "app/directorysearchcommand.h"

#include <cstdio>

#include <QEventLoop>

#include "directory/directoryclient.h"
#include "platform/textscan.h"

namespace {

QString line(const DirectoryStation &station)
{
    const QStringList fields{station.name, station.codec,
                             station.bitrate > 0 ? QString::number(station.bitrate) : QString(),
                             station.countryCode, station.streamUrl};
    // Directory texts come without controls; a terminal still gets nothing
    // that could steer it.
    return TextScan::escapeControls(fields.join(u'\t'));
}

} // namespace

int runDirectorySearch(const QString &terms, const QUrl &directory)
{
    DirectoryClient client(directory);
    QEventLoop loop;
    int result = 2;
    QObject::connect(&client, &DirectoryClient::stationsFound, &loop,
                     [&](const QList<DirectoryStation> &stations) {
                         for (const DirectoryStation &station : stations)
                             std::printf("%s\n", qUtf8Printable(line(station)));
                         result = stations.isEmpty() ? 1 : 0;
                         loop.quit();
                     });
    QObject::connect(&client, &DirectoryClient::searchFailed, &loop, [&](const QString &reason) {
        std::fprintf(stderr, "skyvane: %s\n", qUtf8Printable(reason));
        loop.quit();
    });
    StationFilter filter;
    filter.name = terms;
    client.search(filter);
    loop.exec();
    std::fflush(stdout);
    return result;
}
