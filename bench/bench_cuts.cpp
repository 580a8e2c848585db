// Where the cuts between songs fall. A station on loopback plays real MP3
// (128 kbit/s, 44.1 kHz: tones of 18 to 25 s, 1 s of digital silence between
// them), unthrottled, metadata every 16000 bytes, with each song's title sent
// on time (with the song's first frame), 1.5 s late or 1 s early. Skyvane
// records it into one file per song, the song under way at the start kept.
// Each track file is found in the programme by its bytes, so every cut is a
// position in the stream: how far it lies from the middle of its silence,
// whether both sides of every change lie inside the silence, how much audio
// falls between two tracks, and the capture's CPU time per hour of audio.
//
// Each title timing runs with titleOffsetMs 0 and cutWindowMs 0 ("before": a
// cut where the title says), and with the settings' defaults. Keys the build
// does not know are left out, so on a build without them both rows are alike.
//
//   bench_cuts [ROUNDS]   (default 20; CPU is the median of the rounds)
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QtEndian>

#include "audiofixtures.h"
#include "capture/capture.h"
#include "capture/trackwriter.h"
#include "stationsimulator.h"
#include "testmain.h"

namespace {

constexpr qint64 metaInterval = 16000;
constexpr double sampleRate = 44100;
constexpr double samplesPerFrame = 1152;
constexpr double frameMs = samplesPerFrame * 1000 / sampleRate;
// A decoded sample this close to zero is silence; the tones peak at 4096.
constexpr int silenceLevel = 8;
// Over 17 s each: a track of 256 KiB or less (16 s at 128 kbit/s) is deleted as a fragment.
const QList<double> songSeconds = {21.3, 18.7, 24.1, 19.6, 22.9, 18.2, 25.0, 20.4};

double cpuSeconds(int who)
{
    rusage usage = {};
    getrusage(who, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The programme as a stream: where its frames start, and its silences in
// stream time (ms from the first frame), as ffmpeg's decoder hears them.
struct Programme
{
    QByteArray bytes;
    std::vector<qint64> frameStarts;
    std::vector<std::pair<double, double>> silences; // [start, end) ms

    // Stream time of a byte, within its frame by its share of the frame's bytes.
    double msAt(qint64 offset) const
    {
        const auto next = std::upper_bound(frameStarts.begin(), frameStarts.end(), offset);
        const qint64 frame = std::max<qint64>(0, next - frameStarts.begin() - 1);
        const qint64 start = frameStarts[size_t(frame)];
        const qint64 end = next == frameStarts.end() ? bytes.size() : *next;
        return (double(frame) + double(offset - start) / double(std::max<qint64>(1, end - start))) *
               frameMs;
    }
    // The first byte of the frame that holds this stream time.
    qint64 offsetAt(double ms) const
    {
        const auto frame = qint64(std::clamp(ms / frameMs, 0.0, double(frameStarts.size() - 1)));
        return frameStarts[size_t(frame)];
    }
    double lengthMs() const { return double(frameStarts.size()) * frameMs; }
};

// MPEG-1 Layer III frame headers, one after another from the first byte.
std::vector<qint64> frameStartsOf(const QByteArray &mp3)
{
    static constexpr int kbits[] = {0,   32,  40,  48,  56,  64,  80, 96,
                                    112, 128, 160, 192, 224, 256, 320};
    static constexpr int rates[] = {44100, 48000, 32000};
    std::vector<qint64> starts;
    for (qint64 at = 0; at + 4 <= mp3.size();) {
        const auto byte = [&](qint64 i) { return quint8(mp3[at + i]); };
        const int bitrate = byte(2) >> 4;
        const int rate = (byte(2) >> 2) & 3;
        if (byte(0) != 0xff || (byte(1) & 0xfe) != 0xfa || bitrate == 0 || bitrate == 15 ||
            rate == 3)
            break;
        starts.push_back(at);
        at += 144 * kbits[bitrate] * 1000 / rates[rate] + ((byte(2) >> 1) & 1);
    }
    return starts;
}

// Runs of at least half a second of silence in the decoded programme.
std::vector<std::pair<double, double>> silencesOf(const QByteArray &mp3, qint64 &decodedSamples)
{
    QTemporaryFile file(QDir::currentPath() + QStringLiteral("/bench-cuts-XXXXXX.mp3"));
    if (!file.open() || file.write(mp3) != mp3.size() || !file.flush())
        return {};
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-nostdin"),
                  QStringLiteral("-i"), file.fileName(), QStringLiteral("-f"),
                  QStringLiteral("s16le"), QStringLiteral("-ac"), QStringLiteral("1"),
                  QStringLiteral("-")});
    ffmpeg.waitForFinished(60000);
    const QByteArray pcm = ffmpeg.readAllStandardOutput();
    decodedSamples = pcm.size() / 2;
    std::vector<std::pair<double, double>> silences;
    qint64 quietSince = -1;
    for (qint64 i = 0; i <= decodedSamples; ++i) {
        const bool quiet =
            i < decodedSamples &&
            std::abs(qFromLittleEndian<qint16>(pcm.constData() + 2 * i)) <= silenceLevel;
        if (quiet && quietSince < 0)
            quietSince = i;
        if (!quiet && quietSince >= 0 && i - quietSince >= sampleRate / 2)
            silences.emplace_back(double(quietSince) * 1000 / sampleRate,
                                  double(i) * 1000 / sampleRate);
        if (!quiet)
            quietSince = -1;
    }
    return silences;
}

QList<QPair<qint64, QByteArray>> titleSchedule(const Programme &programme, double lateMs)
{
    // The first song is under way when the listener comes.
    QList<QPair<qint64, QByteArray>> schedule = {{0, "Bench Artist - Song 1"}};
    for (size_t i = 0; i < programme.silences.size(); ++i)
        schedule.append({programme.offsetAt(programme.silences[i].second + lateMs),
                         "Bench Artist - Song " + QByteArray::number(qsizetype(i) + 2)});
    return schedule;
}

// The station serves from a thread of its own, whose CPU time is taken off the capture's.
class StationThread
{
public:
    StationThread()
    {
        m_thread.start();
        m_station.moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            &m_station, [this] { return m_station.start(); }, Qt::BlockingQueuedConnection,
            &m_started);
    }
    ~StationThread()
    {
        QThread *const home = QThread::currentThread();
        QMetaObject::invokeMethod(
            &m_station,
            [&] {
                m_station.close();
                m_station.moveToThread(home);
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    bool started() const { return m_started; }
    QString serve(const StationSimulator::Route &route)
    {
        QMetaObject::invokeMethod(
            &m_station, [&] { m_station.setRoute("/live", route); }, Qt::BlockingQueuedConnection);
        return m_station.url(u"/live");
    }
    double threadCpuSeconds()
    {
        double seconds = 0;
        QMetaObject::invokeMethod(
            &m_station, [] { return cpuSeconds(RUSAGE_THREAD); }, Qt::BlockingQueuedConnection,
            &seconds);
        return seconds;
    }

private:
    QThread m_thread;
    StationSimulator m_station;
    bool m_started = false;
};

// Where a track lies in the programme: the first place its first 64 bytes
// are found and the whole track follows. Frames of silence, and of a steady
// tone, repeat byte for byte, so a short piece alone may be found elsewhere.
qint64 locate(const QByteArray &programme, const QByteArray &track)
{
    const QByteArrayView head = QByteArrayView(track).first(std::min<qsizetype>(64, track.size()));
    for (qsizetype at = programme.indexOf(head); at >= 0 && !head.isEmpty();
         at = programme.indexOf(head, at + 1)) {
        if (QByteArrayView(programme).sliced(at).startsWith(track))
            return at;
    }
    return -1;
}

struct Located
{
    int song = -1; // 0-based, from the title
    qint64 start = -1;
    qint64 end = -1; // past the last byte
};

// Records the station until it closes; the tracks as found in the programme.
std::vector<Located> record(StationThread &station, const QString &url, const Programme &programme,
                            bool before, double &cpu)
{
    RecordingSettings settings;
    settings.name = QStringLiteral("Cuts");
    settings.url = url;
    settings.splitSongs = true;
    settings.keepPartial = true;
    settings.minFreeMB = 0;
    for (const auto &field : RecordingSettings::fields()) {
        if (before &&
            (qstrcmp(field.key, "titleOffsetMs") == 0 || qstrcmp(field.key, "cutWindowMs") == 0))
            field.assign(settings, 0);
    }
    QList<Track> tracks;
    bool done = false;
    const double cpuBefore = cpuSeconds(RUSAGE_SELF) - station.threadCpuSeconds();
    {
        Capture capture(settings, QDateTime::currentDateTime());
        QObject::connect(&capture, &Capture::trackSaved,
                         [&](const Track &track) { tracks.append(track); });
        QObject::connect(&capture, &Capture::finished, [&] { done = true; });
        capture.start();
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    cpu = cpuSeconds(RUSAGE_SELF) - station.threadCpuSeconds() - cpuBefore;

    static const QRegularExpression songNumber(QStringLiteral("Song (\\d+)$"));
    std::vector<Located> found;
    for (const Track &track : std::as_const(tracks)) {
        QFile file(track.path);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const qint64 start = locate(programme.bytes, bytes);
        found.push_back({songNumber.match(track.title).captured(1).toInt() - 1, start,
                         start < 0 ? -1 : start + bytes.size()});
    }
    std::sort(found.begin(), found.end(),
              [](const Located &a, const Located &b) { return a.start < b.start; });
    QDir(TrackWriter::folder()).removeRecursively();
    return found;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double largest(const std::vector<double> &values)
{
    double top = NAN;
    for (const double value : values)
        top = std::isnan(top) ? std::abs(value) : std::max(top, std::abs(value));
    return top;
}

// One row of the table: the changes between consecutive tracks of consecutive songs.
void printRow(const char *timing, const char *settings, const std::vector<Located> &tracks,
              const Programme &programme, double cpuPerHour)
{
    std::vector<double> fromMiddle;
    std::vector<double> lost;
    int inside = 0;
    int unlocated = 0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        unlocated += tracks[i].start < 0 || tracks[i].end < 0;
        if (i == 0 || tracks[i - 1].end < 0 || tracks[i].start < 0 ||
            tracks[i].song != tracks[i - 1].song + 1 || tracks[i - 1].song < 0 ||
            size_t(tracks[i - 1].song) >= programme.silences.size())
            continue;
        const auto [silenceStart, silenceEnd] = programme.silences[size_t(tracks[i - 1].song)];
        const double end = programme.msAt(tracks[i - 1].end);
        const double start = programme.msAt(tracks[i].start);
        fromMiddle.push_back(start - (silenceStart + silenceEnd) / 2);
        lost.push_back(start - end);
        inside += end >= silenceStart && end <= silenceEnd && start >= silenceStart &&
                  start <= silenceEnd;
    }
    std::printf(
        "| %-10s | %-8s | %6zu | %5zu | %+9.0f | %8.0f | %4d/%-3zu | %+7.0f | %8.0f | %7.3f |%s\n",
        timing, settings, tracks.size(), fromMiddle.size(), median(fromMiddle), largest(fromMiddle),
        inside, fromMiddle.size(), median(lost), largest(lost), cpuPerHour,
        unlocated ? qPrintable(QStringLiteral(" %1 not found").arg(unlocated)) : "");
}

} // namespace

int main(int argc, char *argv[])
{
    // Scratch files below the current folder; the real music folder is never touched.
    QTemporaryDir home(QDir::currentPath() + QStringLiteral("/bench-cuts-XXXXXX"));
    if (!home.isValid() || !enterScratchHome(home.path()))
        return 2;
    QCoreApplication app(argc, argv);
    const int rounds = std::max(1, argc > 1 ? std::atoi(argv[1]) : 20);

    QList<AudioFixtures::Song> songs;
    for (const double seconds : songSeconds)
        songs.append(AudioFixtures::Song{seconds});
    Programme programme;
    programme.bytes = AudioFixtures::programme(AudioFixtures::Codec::Mp3, songs, 1.0);
    programme.frameStarts = frameStartsOf(programme.bytes);
    qint64 decodedSamples = 0;
    programme.silences = silencesOf(programme.bytes, decodedSamples);
    if (programme.frameStarts.empty() || programme.silences.size() != size_t(songs.size() - 1)) {
        std::fprintf(stderr, "the programme is not as expected (%zu frames, %zu silences)\n",
                     programme.frameStarts.size(), programme.silences.size());
        return 1;
    }
    std::printf("programme: %lld songs, %.1f s, %lld bytes, %zu frames (%lld decoded samples for "
                "%.0f), metadata every %lld bytes\n",
                qint64(songs.size()), programme.lengthMs() / 1000, qint64(programme.bytes.size()),
                programme.frameStarts.size(), decodedSamples,
                double(programme.frameStarts.size()) * samplesPerFrame, metaInterval);
    std::printf("silences (ms):");
    for (const auto &[start, end] : programme.silences)
        std::printf(" %.0f-%.0f", start, end);
    std::printf("\n");
    bool knowsKeys = false;
    for (const auto &field : RecordingSettings::fields())
        knowsKeys = knowsKeys || qstrcmp(field.key, "cutWindowMs") == 0;
    std::printf("settings keys titleOffsetMs, cutWindowMs: %s\n\n",
                knowsKeys ? "known" : "unknown to this build (both rows alike)");

    StationThread station;
    if (!station.started())
        return 1;
    std::printf(
        "| Titles     | Settings | Tracks | Cuts  | Cut - mid | Max dist | Inside   | Lost    | "
        "Max lost | CPU s/h |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    const struct
    {
        const char *name;
        double lateMs;
    } timings[] = {{"on time", 0}, {"1.5 s late", 1500}, {"1 s early", -1000}};
    QList<double> costs; // defaults less "before", per timing
    for (const auto &timing : timings) {
        StationSimulator::Route route =
            StationSimulator::Route::stream(QByteArrayLiteral("ICY 200 OK"), metaInterval);
        route.programme = programme.bytes;
        route.titleSchedule = titleSchedule(programme, timing.lateMs);
        const QString url = station.serve(route);
        // The two settings take turns, so that a busier spell of the machine weighs on both.
        std::array<std::vector<double>, 2> cpu;
        std::array<std::vector<Located>, 2> tracks;
        for (int round = 0; round < rounds; ++round) {
            for (const size_t run : {0, 1}) {
                double seconds = 0;
                tracks[run] = record(station, url, programme, run == 0, seconds);
                cpu[run].push_back(seconds * 3600 * 1000 / programme.lengthMs());
            }
        }
        printRow(timing.name, "before", tracks[0], programme, median(cpu[0]));
        printRow(timing.name, "defaults", tracks[1], programme, median(cpu[1]));
        costs.append(median(cpu[1]) - median(cpu[0]));
    }
    std::printf("\ncost of the silence search per hour of audio (CPU s, defaults less before):");
    for (qsizetype i = 0; i < costs.size(); ++i)
        std::printf(" %s %.3f;", timings[i].name, costs[i]);
    std::printf("\n\nCuts: changes between tracks of consecutive songs. Cut - mid: where the later "
                "track starts, from the middle of its silence (ms, median; + after). Inside: both "
                "ends of the change within the silence. Lost: audio between the earlier track's "
                "end and the later's start (ms, median; negative: overlap). Max: the largest "
                "size either way. CPU: the capture's, the station's taken off, per hour of audio "
                "(median of %d rounds).\n",
                rounds);
    return 0;
}
