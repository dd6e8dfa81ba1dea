#pragma once

#include <deque>
#include <QByteArray>
#include <QtGlobal>

namespace vernalo {

// The audio a stream may still owe its server: chunks sent but not yet known to have arrived,
// and chunks held while no socket takes them. Every chunk carries its byte offset in the
// stream's audio. The buffer is bounded; when it is full the oldest chunks go first.
class StreamAudioBuffer
{
public:
    struct Chunk
    {
        qint64 offset = 0;
        QByteArray pcm;
    };

    explicit StreamAudioBuffer(qint64 maxBytes)
        : m_maxBytes(maxBytes)
    { }

    // Keeps the chunk at the end of the stream's audio and returns its offset.
    qint64 append(const QByteArray &pcm);
    // The server has read everything before this offset.
    void acknowledge(qint64 offset);
    // Forgets the chunks; offsets keep counting (reset() starts a new stream at 0).
    void clear();
    void reset();

    const std::deque<Chunk> &chunks() const { return m_chunks; }
    // Where the next chunk to send again begins: the oldest kept chunk, else the end.
    qint64 resumeOffset() const { return m_chunks.empty() ? m_end : m_chunks.front().offset; }
    qint64 endOffset() const { return m_end; }
    qint64 bytes() const { return m_bytes; }
    qint64 peakBytes() const { return m_peakBytes; }
    // Bytes pushed out by the bound since the last call.
    qint64 takeDroppedBytes();

private:
    qint64 m_maxBytes;
    std::deque<Chunk> m_chunks;
    qint64 m_end = 0;
    qint64 m_bytes = 0;
    qint64 m_peakBytes = 0;
    qint64 m_droppedBytes = 0;
};

} // namespace vernalo
