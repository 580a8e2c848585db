#include "capture/framewalker.h"

#include <optional>

void FrameWalker::feed(QByteArrayView bytes)
{
    if (m_held.isEmpty()) {
        const qsizetype used = walk(bytes);
        m_held = bytes.sliced(used).toByteArray();
        return;
    }
    m_held.append(bytes);
    const qsizetype used = walk(m_held);
    m_held.remove(0, used);
}

// Gives out every whole frame in `bytes`; returns how many bytes are done with.
qsizetype FrameWalker::walk(QByteArrayView bytes)
{
    qsizetype at = 0;
    for (;;) {
        if (!m_synced) {
            qsizetype decided = at;
            const qsizetype found = findSync(bytes, at, decided);
            m_skipped += (found < 0 ? decided : found) - at;
            if (found < 0)
                return decided;
            m_synced = true;
            if (m_skipped > 0)
                m_receiver.bytesSkipped(m_skipped, !m_started);
            m_skipped = 0;
            at = found;
            m_last = *AudioFrame::at(bytes, found);
        }
        if (at + 7 > bytes.size())
            return at;
        const std::optional<AudioFrame> frame = AudioFrame::at(bytes, at);
        if (!frame || !frame->continues(m_last)) {
            m_synced = false;
            continue;
        }
        if (at + frame->length > bytes.size())
            return at;
        m_last = *frame;
        m_started = true;
        m_receiver.frameFound(bytes.sliced(at, frame->length), *frame);
        at += frame->length;
    }
}

qsizetype FrameWalker::findSync(QByteArrayView bytes, qsizetype from, qsizetype &decided) const
{
    for (qsizetype at = from; at + 7 <= bytes.size(); ++at) {
        const std::optional<AudioFrame> frame = AudioFrame::at(bytes, at);
        if (!frame)
            continue;
        const qsizetype next = at + frame->length;
        if (next + 7 > bytes.size()) {
            decided = at; // the next header is still to come
            return -1;
        }
        const std::optional<AudioFrame> following = AudioFrame::at(bytes, next);
        if (following && following->continues(*frame))
            return at;
    }
    // The last six bytes may begin a header that is not all here yet.
    decided = std::max(from, bytes.size() - 6);
    return -1;
}
