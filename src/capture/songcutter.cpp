#include "capture/songcutter.h"

#include <cmath>
#include <limits>
#include <vector>

#include "capture/frameloudness.h"

namespace {

// Frames decoded before a window and not judged: the decoder needs them to
// give the first frames in the window their true sound.
constexpr std::size_t prerollFrames = 8;
// Held back beyond the window for that preroll.
constexpr qint64 prerollUs = 250000;
// Quieter than this (-60 dB of full scale, as a mean square) is silence,
// however much quieter the quietest frame is.
constexpr double silence = 1e-6;

} // namespace

SongCutter::SongCutter(Receiver &receiver, Framing framing, Placement placement)
    : m_receiver(receiver), m_framing(framing), m_placement(placement), m_walker(*this)
{}

void SongCutter::feed(QByteArrayView audio)
{
    if (m_framing == Framing::None) {
        m_receiver.songAudio(audio, 0);
        return;
    }
    dropReleased();
    m_walker.feed(audio);
    placeDueCuts();
}

void SongCutter::titleChanged()
{
    if (m_framing == Framing::None) {
        m_receiver.songEnds();
        return;
    }
    // Placed with the next audio: none that comes can move it.
    m_cuts.push_back(m_endUs + m_placement.offsetUs);
}

void SongCutter::finish()
{
    dropReleased();
    while (!m_cuts.empty()) {
        placeCut(m_cuts.front());
        m_cuts.pop_front();
    }
    release(m_frames.size());
}

void SongCutter::frameFound(QByteArrayView frame, const AudioFrame &header)
{
    m_held.append(frame);
    const qint64 durationUs = header.durationUs();
    m_frames.push_back(
        {m_streamOffset, frame.size(), m_endUs, durationUs, header.reservoirBytes == 0});
    m_streamOffset += frame.size();
    m_endUs += durationUs;
}

void SongCutter::bytesSkipped(qint64 count, bool atStart)
{
    m_receiver.audioSkipped(count, atStart);
}

// A cut is placed once the audio reaches the end of its window; until then
// only audio no cut can reach goes out.
void SongCutter::placeDueCuts()
{
    while (!m_cuts.empty() && m_endUs >= m_cuts.front() + m_placement.windowUs) {
        placeCut(m_cuts.front());
        m_cuts.pop_front();
    }
    // A title that changes now puts its window no earlier than this.
    const qint64 earliest = m_cuts.empty() ? m_endUs + m_placement.offsetUs : m_cuts.front();
    releaseBefore(earliest - m_placement.windowUs - prerollUs);
}

void SongCutter::placeCut(qint64 targetUs)
{
    release(cutIndex(targetUs));
    m_receiver.songEnds();
}

std::size_t SongCutter::cutIndex(qint64 targetUs) const
{
    const qint64 windowUs = m_placement.windowUs;
    std::size_t first = 0;
    while (first < m_frames.size() && m_frames[first].startUs < targetUs - windowUs)
        ++first;
    std::size_t last = first;
    while (last < m_frames.size() && m_frames[last].startUs <= targetUs + windowUs)
        ++last;
    if (windowUs == 0 || last - first < 2)
        return first;
    return quietestIndex(first, last, targetUs);
}

// The middle of the longest quiet stretch among frames [first, last): a pause
// between songs, cut where it is furthest from both.
std::size_t SongCutter::quietestIndex(std::size_t first, std::size_t last, qint64 targetUs) const
{
    const std::size_t decodeFrom = first > prerollFrames ? first - prerollFrames : 0;
    std::vector<QByteArrayView> frames;
    for (std::size_t i = decodeFrom; i < last; ++i) {
        const HeldFrame &frame = m_frames[i];
        frames.push_back(QByteArrayView(m_held).sliced(frame.offset - m_heldOffset, frame.length));
    }
    const std::vector<double> loudness = FrameLoudness::measure(m_framing == Framing::Aac, frames);
    if (loudness.size() != frames.size()) { // no decoder: where the title says
        std::size_t at = first;
        while (at < last && m_frames[at].startUs < targetUs)
            ++at;
        return at;
    }
    const auto loudnessAt = [&](std::size_t i) { return loudness[i - decodeFrom]; };
    double quietest = std::numeric_limits<double>::infinity();
    for (std::size_t i = first; i < last; ++i) {
        if (loudnessAt(i) >= 0)
            quietest = std::min(quietest, loudnessAt(i));
    }
    const double quiet = std::max(quietest * quietRatio, silence);
    std::size_t best = first;
    std::size_t bestLength = 0;
    qint64 bestDistance = std::numeric_limits<qint64>::max();
    for (std::size_t start = first; start < last;) {
        std::size_t end = start;
        while (end < last && loudnessAt(end) >= 0 && loudnessAt(end) <= quiet)
            ++end;
        if (end == start) {
            ++start;
            continue;
        }
        const std::size_t middle = nearestStandingAlone(start, end, start + (end - start) / 2);
        const qint64 distance = std::abs(m_frames[middle].startUs - targetUs);
        if (end - start > bestLength || (end - start == bestLength && distance < bestDistance)) {
            best = middle;
            bestLength = end - start;
            bestDistance = distance;
        }
        start = end;
    }
    return best;
}

std::size_t SongCutter::nearestStandingAlone(std::size_t first, std::size_t last,
                                             std::size_t middle) const
{
    for (std::size_t step = 0; middle >= first + step || middle + step < last; ++step) {
        if (middle + step < last && m_frames[middle + step].standsAlone)
            return middle + step;
        if (middle >= first + step && m_frames[middle - step].standsAlone)
            return middle - step;
    }
    return middle;
}

void SongCutter::release(std::size_t count)
{
    if (count == 0)
        return;
    const HeldFrame &firstFrame = m_frames.front();
    const HeldFrame &lastFrame = m_frames[count - 1];
    const qint64 length = lastFrame.offset + lastFrame.length - firstFrame.offset;
    const qint64 durationUs = lastFrame.startUs + lastFrame.durationUs - firstFrame.startUs;
    const QByteArrayView run =
        QByteArrayView(m_held).sliced(firstFrame.offset - m_heldOffset, length);
    m_frames.erase(m_frames.begin(), m_frames.begin() + qsizetype(count));
    m_releasedBytes += length;
    m_receiver.songAudio(run, durationUs);
}

void SongCutter::releaseBefore(qint64 horizonUs)
{
    std::size_t count = 0;
    while (count < m_frames.size() &&
           m_frames[count].startUs + m_frames[count].durationUs <= horizonUs)
        ++count;
    release(count);
}

// Audio handed on stays readable until the next call from outside.
void SongCutter::dropReleased()
{
    if (m_releasedBytes == 0)
        return;
    m_held.remove(0, m_releasedBytes);
    m_heldOffset += m_releasedBytes;
    m_releasedBytes = 0;
}
