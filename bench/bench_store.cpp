// The list file at scale: a thousand recordings with full logs (16 MB). How
// long loading and a store on this thread take, how long a store off the event
// loop holds the loop, and how often a storm of a thousand stores (captures
// ending at once) writes the file.
//
//   bench_store [RECORDINGS]   (default 1000)
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include "model/recordinglist.h"

namespace {

double milliseconds(const QElapsedTimer &clock)
{
    return clock.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    // Scratch files below the current folder, on the disk to be measured.
    QTemporaryDir home(QDir::currentPath() + QStringLiteral("/bench-store-XXXXXX"));
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;

    QElapsedTimer clock;
    {
        RecordingList list;
        for (int i = 0; i < count; ++i) {
            RecordingSettings settings;
            settings.name = QStringLiteral("Station %1").arg(i);
            settings.log = QString(15999, u'x') + u'\n';
            list.append(std::make_unique<Recording>(settings));
        }
        clock.start();
        list.store();
        std::printf("store on this thread:         %8.1f ms (%d recordings, full logs)\n",
                    milliseconds(clock), count);
    }
    RecordingList list;
    clock.start();
    list.load();
    std::printf("load:                         %8.1f ms\n", milliseconds(clock));

    int writes = 0;
    QObject::connect(&list, &RecordingList::stored, [&writes] { ++writes; });
    double longest = 0;
    clock.start();
    for (int i = 0; i < list.size(); ++i) {
        QElapsedTimer turn;
        turn.start();
        list.at(i)->log(QStringLiteral("Recording ended\n"));
        list.storeSoon();
        QCoreApplication::processEvents();
        longest = std::max(longest, milliseconds(turn));
    }
    list.flushStores();
    std::printf("storm of %d stores:         %8.1f ms, %d writes, longest loop turn %.2f ms\n",
                list.size(), milliseconds(clock), writes, longest);
    return 0;
}
