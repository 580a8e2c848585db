// The demultiplexer alone: an in-memory stream with a metadata block every
// 16000 audio bytes, fed in 16 KiB chunks, as curl hands them over. No track
// file is open (splitting on, one title), so this measures the parsing only.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

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

void demultiplex(benchmark::State &state)
{
    const QByteArray &bytes = wire();
    for (auto _ : state) {
        auto r = Recording::initWithName(QStringLiteral("Bench"));
        r->splitSongs = true;
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
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(demultiplex)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
