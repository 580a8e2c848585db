// The demultiplexer on an in-memory stream with a metadata block every 16000
// audio bytes, fed in 16 KiB chunks, as curl hands them over:
// - demultiplex: no track file is open (splitting on, one title), so this is
//   the parsing alone; audio bytes are stepped over, never touched;
// - demultiplexToFile: the same stream written into one track file (splitting
//   off), in a scratch folder, so the figure includes the write system calls.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include "model/recording.h"
#include "stationsimulator.h"

namespace {

constexpr qint64 streamAudio = 64 * 1024 * 1024;
constexpr qsizetype chunkSize = 16 * 1024;

const QByteArray &wire()
{
    static const QByteArray bytes = [] {
        StationSimulator::Route route =
            StationSimulator::Route::stream(QByteArrayLiteral("ICY 200 OK"), 16000);
        route.titles = {"Artist - A long enough title to be realistic"};
        route.repeatTitle = true; // every block carries text, the costlier case
        return StationSimulator::wireBody(route, streamAudio);
    }();
    return bytes;
}

void run(benchmark::State &state, bool toFile)
{
    const QByteArray &bytes = wire();
    for (auto _ : state) {
        auto r = Recording::initWithName(QStringLiteral("Bench"));
        r->splitSongs = !toFile;
        r->inProgress = true;
        HttpResponse response;
        response.isHttp = true;
        response.headerFields = {{QStringLiteral("icy-metaint"), QStringLiteral("16000")}};
        r->connectionDidReceiveResponse(response);
        for (qsizetype at = 0; at < bytes.size(); at += chunkSize)
            r->connectionDidReceiveData(
                QByteArrayView(bytes).sliced(at, std::min(chunkSize, bytes.size() - at)));
        benchmark::DoNotOptimize(r->dataSize);
        r->inProgress = false;
        r->file.reset();
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void demultiplex(benchmark::State &state)
{
    run(state, false);
}
BENCHMARK(demultiplex)->Unit(benchmark::kMillisecond);

void demultiplexToFile(benchmark::State &state)
{
    run(state, true);
}
BENCHMARK(demultiplexToFile)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::currentPath() + QStringLiteral("/bench-home-XXXXXX"));
    qputenv("HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
