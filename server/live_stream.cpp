#include "live_stream.h"

#include "recognition_worker.h"
#include "server_log.h"
#include "session_registry.h"
#include "stream_wire.h"
#include "wire/clock.h"
#include "wire/stream_audio_format.h"

#include <algorithm>
#include <QWebSocket>

namespace vernalo::server {

namespace {
constexpr qint64 kBytesPerMs = pcm::kSampleRate * pcm::kBytesPerSample / 1000;
// Arrival times older than this behind the newest audio are no longer needed for dating.
constexpr qint64 kArrivalHistoryMs = 5 * 60 * 1000;
} // namespace

LiveStream::LiveStream(std::unique_ptr<QWebSocket> socket, SessionRegistry &registry,
                       const SessionRecord &session, Clock &clock, QObject *parent)
    : QObject(parent)
    , m_socket(std::move(socket))
    , m_registry(registry)
    , m_clock(clock)
    , m_sessionId(session.id)
    , m_language(session.language)
    , m_interim(session.enableInterim)
    , m_offsetMs(session.audioBytes / kBytesPerMs)
{
    m_socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
    m_socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
    connect(m_socket.get(), &QWebSocket::textMessageReceived, this, &LiveStream::onText);
    connect(m_socket.get(), &QWebSocket::binaryMessageReceived, this, &LiveStream::onBinary);
    connect(m_socket.get(), &QWebSocket::disconnected, this, &LiveStream::onDisconnected);
}

LiveStream::~LiveStream()
{
    if (m_socket) {
        m_socket->disconnect(this);
        if (m_socket->state() != QAbstractSocket::UnconnectedState)
            m_socket->abort();
        // The socket may be inside one of its own signals right now.
        m_socket.release()->deleteLater();
    }
}

void LiveStream::close(QWebSocketProtocol::CloseCode code, bool announceStopped)
{
    if (m_disconnected)
        return;
    if (announceStopped)
        send(encodeStatusEvent(QStringLiteral("stopped"), m_registry.recognizerModel()));
    m_socket->close(code);
    // The close frame must leave even when the socket is deleted right after (shutdown).
    m_socket->flush();
}

void LiveStream::send(const QByteArray &json)
{
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->sendTextMessage(QString::fromUtf8(json));
}

void LiveStream::onText(const QString &text)
{
    QString error;
    const auto message = decodeClientStreamMessage(text.toUtf8(), &error);
    if (!message) {
        send(encodeErrorEvent(error));
        return;
    }
    switch (message->type) {
    case ClientStreamMessage::Type::Start:
        handleStart(*message);
        break;
    case ClientStreamMessage::Type::Audio:
        handleAudio(message->audio);
        break;
    case ClientStreamMessage::Type::Stop:
        if (!m_stopRequested) {
            m_stopRequested = true;
            ServerLog::write(QStringLiteral("server stream stop session=") + m_sessionId);
            if (m_worker)
                m_worker->finish();
        }
        break;
    }
}

void LiveStream::onBinary(const QByteArray &data)
{
    handleAudio(data);
}

void LiveStream::handleStart(const ClientStreamMessage &start)
{
    if (start.sampleRate != pcm::kSampleRate) {
        send(encodeErrorEvent(QStringLiteral("Tuettu näytetaajuus on vain 16000 Hz")));
        m_socket->close(QWebSocketProtocol::CloseCodeDatatypeNotSupported);
        return;
    }
    // The client repeats its start until it hears from us; only the first one configures.
    if (!m_started && !m_worker) {
        if (!start.language.trimmed().isEmpty())
            m_language = start.language.trimmed();
        m_interim = start.enableInterim;
        m_position = start.audioOffset.value_or(m_registry.audioEnd(m_sessionId));
        m_positionNamed = start.audioOffset.has_value();
    }
    // After a stop this connection takes no more audio; a new recording opens a new one.
    m_started = true;
    send(encodeStatusEvent(QStringLiteral("listening"), m_registry.recognizerModel()));
}

void LiveStream::ensureWorker()
{
    if (m_worker)
        return;
    m_worker =
        new RecognitionWorker(m_registry.recognizers(), m_language, m_interim, m_offsetMs, this);
    connect(m_worker, &RecognitionWorker::results, this, &LiveStream::onResults);
    connect(m_worker, &RecognitionWorker::failed, this, [this](const QString &message) {
        m_registry.noteError(m_sessionId, 500, message);
        send(encodeErrorEvent(message));
    });
    connect(m_worker, &RecognitionWorker::finished, this, [this] {
        m_workerFinished = true;
        if (m_disconnected)
            emitGone();
    });
}

void LiveStream::handleAudio(const QByteArray &received)
{
    if (m_stopRequested || received.isEmpty())
        return;
    // A reopened stream starts with audio sent before, and a replaced one may still deliver
    // late audio that its successor sent again: only what the session lacks goes on.
    qint64 repeated = 0;
    if (m_position) {
        if (m_positionNamed || !m_registry.isCurrentStream(m_sessionId, this))
            repeated = m_registry.heldAudioBytes(m_sessionId, *m_position, received.size());
        *m_position += received.size();
    }
    if (repeated >= received.size())
        return;
    const QByteArray pcm = received.mid(repeated);
    if (!m_worker) {
        // Recognition picks up where the session's audio ends, also after a replaced stream's
        // late audio.
        const qint64 end = m_registry.audioEnd(m_sessionId);
        m_offsetMs = end / kBytesPerMs;
        m_oddBytes = end % kBytesPerMs;
    }
    ensureWorker();
    const QDateTime now = m_clock.now();
    m_arrivals.append({m_offsetMs, now});
    while (m_arrivals.size() > 1 && m_arrivals.constFirst().first < m_offsetMs - kArrivalHistoryMs)
        m_arrivals.removeFirst();
    const qint64 total = pcm.size() + m_oddBytes;
    m_offsetMs += total / kBytesPerMs;
    m_oddBytes = total % kBytesPerMs;
    m_registry.noteAudio(m_sessionId, pcm.size(), estimatePCM16Level(pcm));
    m_worker->process(pcm);
}

QDateTime LiveStream::wallTimeAt(qint64 offsetMs) const
{
    if (m_arrivals.isEmpty())
        return m_clock.now();
    // The chunk holding this offset: the last one that began at or before it.
    auto it = std::upper_bound(m_arrivals.cbegin(), m_arrivals.cend(), offsetMs,
                               [](qint64 value, const QPair<qint64, QDateTime> &arrival) {
                                   return value < arrival.first;
                               });
    if (it == m_arrivals.cbegin())
        return m_arrivals.constFirst().second;
    --it;
    return it->second;
}

void LiveStream::onResults(const QList<RecognitionEvent> &events)
{
    const QString model = m_registry.recognizerModel();
    for (const RecognitionEvent &event : events) {
        switch (event.kind) {
        case RecognitionEvent::Kind::Partial:
            if (!m_interim)
                break;
            m_registry.noteInterim(m_sessionId);
            send(encodePartialEvent(event.text));
            break;
        case RecognitionEvent::Kind::Final: {
            StoredSegment segment {event.text, wallTimeAt(event.startMs), event.speakerLabel};
            // A final the client saw must be in the server transcript.
            if (!m_registry.storeFinal(m_sessionId, segment, event.endMs * kBytesPerMs)) {
                send(encodeErrorEvent(QStringLiteral("Litteraatin tallennus epäonnistui")));
                break;
            }
            send(encodeFinalEvent(segment.text, segment.timestamp, segment.speakerLabel));
            break;
        }
        case RecognitionEvent::Kind::Status:
            send(encodeStatusEvent(event.state, model));
            break;
        case RecognitionEvent::Kind::Error:
            m_registry.noteError(m_sessionId, 500, event.text);
            send(encodeErrorEvent(event.text));
            break;
        }
    }
}

void LiveStream::onDisconnected()
{
    if (m_disconnected)
        return;
    m_disconnected = true;
    ServerLog::write(QStringLiteral("server stream closed session=") + m_sessionId +
                     QStringLiteral(" code=") + QString::number(m_socket->closeCode()));
    if (!m_worker || m_workerFinished) {
        emitGone();
        return;
    }
    // Audio already received still becomes transcript; gone follows when the recognizer is done.
    m_stopRequested = true;
    m_worker->finish();
}

void LiveStream::emitGone()
{
    if (m_goneEmitted)
        return;
    m_goneEmitted = true;
    Q_EMIT gone(this);
}

} // namespace vernalo::server
