#pragma once

#include "backend/stream_audio_buffer.h"
#include "wire/stream_event.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QWebSocket;

namespace vernalo {

class Clock;
class Timer;

// Carries one recording's live stream: opens the socket the backend handed out, announces the
// stream, sends audio chunks, asks the server to stop and turns the server's messages into
// StreamEvent values. A broken socket is repaired with a bounded, exponentially delayed
// reconnect; a socket whose peer has silently vanished is noticed by ping deadlines. Audio is
// not lost to an outage: chunks are held while no socket takes them, and chunks the server may
// not have kept are sent again on the new socket, oldest first, after its start message.
//
// Lives on one thread (the main thread): every call, socket signal and timer runs there, and the
// event handler is called there, synchronously. Every timer goes through the injected clock.
class WebSocketStreamClient : public QObject
{
    Q_OBJECT
public:
    using EventHandler = std::function<void(const StreamEvent &)>;

    static constexpr int kMaxReconnectAttempts = 8;
    static constexpr std::chrono::milliseconds kStartRepeatInterval {800};
    static constexpr int kBase64SwitchFrameCount = 50;
    static constexpr std::chrono::milliseconds kPingInterval {5000};
    // Longest wait for the opening handshake and for the pong of a ping.
    static constexpr std::chrono::milliseconds kAnswerDeadline {10000};
    static constexpr qint64 kMaxIncomingMessageBytes = 16 * 1024 * 1024;
    // 30 s of 16 kHz PCM16: the whole reconnect back-off (22 s) with room to spare.
    static constexpr qint64 kAudioBufferBytes = 30 * 32000;

    // The clock is not owned and must outlive the client.
    explicit WebSocketStreamClient(Clock *clock, QObject *parent = nullptr);
    ~WebSocketStreamClient() override;

    // Opens the stream and returns at once, without waiting for the server. Throws
    // APIClientError::invalidBaseURL, changing nothing, when wsURL is not a ws:// or wss://
    // address.
    void open(const QString &wsURL, const QString &language, const QString &sttModel,
              EventHandler onEvent);
    bool isActive() const { return m_isRunning; }
    // One audio chunk, as a binary frame or, after the framing switch, as a JSON text frame.
    // While the stream reconnects the chunk is held for the new socket. Nothing is sent after
    // the stop message.
    void sendAudio(const QByteArray &data);
    // Asks the server to finish; the socket stays open until close(). During a reconnect
    // the stop waits for the new socket and follows the audio held for it. When the server then
    // closes the socket, that is the end of the stream, not a failure: no reconnect follows.
    // Likewise a normal close right after the server's own "stopped" status ends the stream
    // quietly; any other loss of the socket is repaired.
    void sendStop();
    // Closes with 1001 and forgets everything; safe at any time, also twice. No event reaches
    // the former handler afterwards.
    void close();

    // Read-outs for diagnostics.
    bool isReconnecting() const { return m_isReconnecting; }
    // A stop waits for the socket a reconnect is opening.
    bool isHoldingStop() const { return m_stopHeld; }
    bool isStartConfirmed() const { return m_startConfirmed; }
    // A ping of the open socket has not been answered yet.
    bool isAwaitingPong() const;
    bool isBase64Framing() const { return m_audioTransportMode == AudioTransportMode::base64JSON; }
    int reconnectAttempts() const { return m_reconnectAttempts; }
    int audioFramesSent() const { return m_audioFramesSent; }
    // Most audio bytes held at once since connect().
    qint64 audioBufferPeakBytes() const { return m_audio.peakBytes(); }

Q_SIGNALS:
    // The opening handshake of the current socket completed.
    void socketOpened();
    // The current socket answered a ping.
    void pongReceived();

private:
    enum class AudioTransportMode { binary, base64JSON };

    // Why a socket was given up: an English fragment for the log and a Finnish description for
    // the exhaustion message.
    struct Failure
    {
        QString logReason;
        QString description;
        bool normalClose = false; // the server closed the socket with 1000
    };

    void openSocket();
    void dropSocket();
    void attemptSendStart(bool force);
    void sendFrame(const QByteArray &payload, bool isText);
    void sendChunk(const QByteArray &pcm);
    void resendHeldAudio();
    void releaseHeldStop();
    void acknowledgeAudio(const QByteArray &pingPayload);
    void logDroppedAudio(const char *when);
    void flushPending();
    void handleConnected();
    void handleMessage(const QByteArray &utf8);
    void handleFailure(const Failure &failure);
    void reconnect();
    void sendPing();
    void stopLivenessTimers();
    // Calls the handler; false when the client was destroyed, stopped or restarted meanwhile.
    bool deliver(const StreamEvent &event);

    static Failure socketErrorFailure(QAbstractSocket::SocketError error);
    static Failure closeFailure(int closeCode);

    Clock *m_clock;
    QPointer<QWebSocket> m_socket;
    bool m_socketOpened = false; // the current socket completed its handshake
    // Frames handed over while the handshake is still running go out once it completes.
    QList<std::pair<QByteArray, bool>> m_pending;
    bool m_isRunning = false;
    bool m_isReconnecting = false;
    QByteArray m_startPayloadText;
    bool m_startConfirmed = false;
    std::optional<qint64> m_lastStartAttemptMs;
    EventHandler m_onEventHandler;
    QString m_wsURLString;
    QString m_language;
    QString m_sttModel;
    int m_reconnectAttempts = 0;
    AudioTransportMode m_audioTransportMode = AudioTransportMode::binary;
    int m_audioFramesSent = 0;
    int m_transcriptEventsReceived = 0;
    bool m_stopSent = false;
    // sendStop() came while no socket was open; the stop goes out after the held audio.
    bool m_stopHeld = false;
    StreamAudioBuffer m_audio {kAudioBufferBytes};
    // Where the audio stood when the last answered ping left; no value before the first pong.
    std::optional<qint64> m_answeredOffset;
    // The last confirming message on the current socket was the "stopped" status.
    bool m_serverStopped = false;
    quint64 m_runId = 0;

    Timer *m_reconnectTimer;
    Timer *m_pingTimer;
    Timer *m_answerDeadline;
};

// How the recording controller gets a fresh client for each recording. Tests hand it the real
// client on a fake clock, pointed at a loopback peer.
using StreamClientFactory = std::function<std::unique_ptr<WebSocketStreamClient>()>;

StreamClientFactory defaultStreamClientFactory(Clock *clock);

} // namespace vernalo
