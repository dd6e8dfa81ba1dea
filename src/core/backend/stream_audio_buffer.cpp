#include "backend/stream_audio_buffer.h"

#include <algorithm>
#include <utility>

namespace vernalo {

qint64 StreamAudioBuffer::append(const QByteArray &pcm)
{
    const qint64 offset = m_end;
    m_end += pcm.size();
    m_chunks.push_back({offset, pcm});
    m_bytes += pcm.size();
    while (m_bytes > m_maxBytes && !m_chunks.empty()) {
        m_bytes -= m_chunks.front().pcm.size();
        m_droppedBytes += m_chunks.front().pcm.size();
        m_chunks.pop_front();
    }
    m_peakBytes = std::max(m_peakBytes, m_bytes);
    return offset;
}

void StreamAudioBuffer::acknowledge(qint64 offset)
{
    while (!m_chunks.empty() && m_chunks.front().offset + m_chunks.front().pcm.size() <= offset) {
        m_bytes -= m_chunks.front().pcm.size();
        m_chunks.pop_front();
    }
}

void StreamAudioBuffer::clear()
{
    m_chunks.clear();
    m_bytes = 0;
}

void StreamAudioBuffer::reset()
{
    clear();
    m_end = 0;
    m_peakBytes = 0;
    m_droppedBytes = 0;
}

qint64 StreamAudioBuffer::takeDroppedBytes()
{
    return std::exchange(m_droppedBytes, 0);
}

} // namespace vernalo
