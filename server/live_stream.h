#pragma once

#include "recognizer.h"
#include "session_store.h"

#include <memory>
#include <optional>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QWebSocketProtocol>

class QWebSocket;

namespace vernalo {
class Clock;
}

namespace vernalo::server {

class RecognitionWorker;
class SessionRegistry;

// One WebSocket connection of a session's live stream: the start message, binary or Base64
// audio, stop, and the partial/final/status/error events back. Audio goes to a recognizer on
// its own thread; finals are stored through the registry before they are sent, so a final the
// client saw is always in the server transcript.
class LiveStream : public QObject
{
    Q_OBJECT
public:
    LiveStream(std::unique_ptr<QWebSocket> socket, SessionRegistry &registry,
               const SessionRecord &session, Clock &clock, QObject *parent = nullptr);
    ~LiveStream() override;

    QString sessionId() const { return m_sessionId; }
    // Ends the connection from the server side; with announceStopped the client first gets the
    // "stopped" status, which ends its recording.
    void close(QWebSocketProtocol::CloseCode code, bool announceStopped);

    static constexpr qint64 kMaxMessageBytes = 1024 * 1024;

Q_SIGNALS:
    // The connection is over and the recognizer has delivered its last results.
    void gone(vernalo::server::LiveStream *stream);

private:
    void onText(const QString &text);
    void onBinary(const QByteArray &data);
    void onDisconnected();
    void emitGone();
    void handleStart(const struct ClientStreamMessage &start);
    void handleAudio(const QByteArray &pcm);
    void ensureWorker();
    void onResults(const QList<RecognitionEvent> &events);
    void send(const QByteArray &json);
    QDateTime wallTimeAt(qint64 offsetMs) const;

    std::unique_ptr<QWebSocket> m_socket;
    SessionRegistry &m_registry;
    Clock &m_clock;
    QString m_sessionId;
    QString m_language;
    bool m_interim;
    RecognitionWorker *m_worker = nullptr;
    bool m_started = false;
    bool m_stopRequested = false;
    bool m_disconnected = false;
    bool m_goneEmitted = false;
    bool m_workerFinished = false;
    qint64 m_offsetMs; // session audio received so far, in milliseconds
    qint64 m_oddBytes = 0;
    // Where the next chunk sits in the session's audio: from the start message of a reopened
    // stream, else the session's end when the stream started.
    std::optional<qint64> m_position;
    bool m_positionNamed = false; // the client named it, and may send audio again
    // When each chunk's first sample arrived, to date finals by when they were spoken.
    QList<QPair<qint64, QDateTime>> m_arrivals;
};

} // namespace vernalo::server
