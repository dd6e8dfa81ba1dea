#include "audio/capture_chunker.h"

namespace vernalo {

std::optional<QByteArray> CaptureChunker::takeFullChunk()
{
    if (m_pending.size() < pcm::kChunkBytes)
        return std::nullopt;
    QByteArray chunk = m_pending.first(pcm::kChunkBytes);
    m_pending.remove(0, pcm::kChunkBytes);
    return chunk;
}

std::optional<QByteArray> CaptureChunker::takeRemainder(qsizetype minBytes)
{
    if (m_pending.isEmpty() || m_pending.size() < minBytes)
        return std::nullopt;
    QByteArray chunk;
    chunk.swap(m_pending);
    return chunk;
}

} // namespace vernalo
