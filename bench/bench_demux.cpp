// The demultiplexer (IcyDemuxer::feed) on an in-memory stream with a metadata
// block every 16000 audio bytes, fed in 16 KiB chunks, as curl hands them over:
// - demultiplex: a receiver that discards the audio, so this is the parsing
//   alone; audio bytes are stepped over, never touched;
// - demultiplexToFile: a receiver that writes the audio into one file in a
//   scratch folder, so the figure includes the write system calls.
// Throughput is printed as MB/s of stream (10^6 bytes a second of wall time).
#include <stdexcept>

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "capture/icydemuxer.h"
#include "stationsimulator.h"

namespace {

constexpr qint64 streamAudio = 64 * 1024 * 1024;
constexpr qsizetype chunkSize = 16 * 1024;

const QByteArray &wire()
{
    static const QByteArray bytes = [] {
        StationSimulator::Route route =
            StationSimulator::Route::stream(QByteArrayLiteral("ICY 200 OK"), 16000);
        // Every block carries text, a title of its own: the costlier case.
        route.titles = {"Artist - A long enough title to be realistic",
                        "Artist - Another title, just as long as the first"};
        route.titleInterval = 16000;
        return StationSimulator::wireBody(route, streamAudio);
    }();
    return bytes;
}

struct Receiver final : IcyDemuxer::Receiver
{
    QFile *file = nullptr; // nullptr: discard
    void audioReceived(QByteArrayView audio) override
    {
        if (file && file->write(audio.data(), audio.size()) != audio.size())
            throw std::runtime_error("write failed");
    }
    void inBandHeadReceived(QByteArrayView) override {}
    void titleBlockReceived(QByteArrayView block, bool) override
    {
        benchmark::DoNotOptimize(block);
    }
};

void run(benchmark::State &state, bool toFile)
{
    const QByteArray &bytes = wire();
    const QTemporaryDir folder(QDir::currentPath() + QStringLiteral("/bench-demux-XXXXXX"));
    QElapsedTimer clock;
    clock.start();
    for (auto _ : state) {
        QFile file(folder.filePath(QStringLiteral("track.mp3")));
        Receiver receiver;
        if (toFile) {
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                state.SkipWithError("cannot open the scratch file");
                break;
            }
            receiver.file = &file;
        }
        IcyDemuxer demuxer(receiver);
        demuxer.setInterval(16000);
        for (qsizetype at = 0; at < bytes.size(); at += chunkSize)
            demuxer.feed(QByteArrayView(bytes).sliced(at, std::min(chunkSize, bytes.size() - at)));
        benchmark::DoNotOptimize(demuxer.audioBytes());
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    state.SetLabel(
        QString::number(double(state.iterations()) * double(bytes.size()) / 1e6 / seconds, 'f', 0)
            .append(QStringLiteral(" MB/s"))
            .toStdString());
}

void demultiplex(benchmark::State &state)
{
    run(state, false);
}
BENCHMARK(demultiplex)->Unit(benchmark::kMillisecond)->UseRealTime();

void demultiplexToFile(benchmark::State &state)
{
    run(state, true);
}
BENCHMARK(demultiplexToFile)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
