#pragma once

#include "audio/pcm_format.h"

#include <optional>
#include <QByteArray>

namespace vernalo {

// Converted PCM waiting to leave a capture source in chunks. Chunks are taken one at a time so
// that a callback which stops the capture (and clears this buffer) ends the loop cleanly.
class CaptureChunker
{
public:
    void append(const QByteArray &pcm) { m_pending.append(pcm); }
    void clear() { m_pending.clear(); }
    qsizetype pendingBytes() const { return m_pending.size(); }

    // The oldest full chunk (3200 bytes), if one is complete.
    std::optional<QByteArray> takeFullChunk();
    // Everything pending, when it holds at least minBytes.
    std::optional<QByteArray> takeRemainder(qsizetype minBytes);

private:
    QByteArray m_pending;
};

} // namespace vernalo
