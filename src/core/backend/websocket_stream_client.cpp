#include "backend/websocket_stream_client.h"

#include "backend/api_client_error.h"
#include "foundation/app_log.h"
#include "wire/clock.h"
#include "wire/stream_messages.h"

#include <algorithm>
#include <QMetaEnum>
#include <QStringDecoder>
#include <QWebSocket>

namespace vernalo {

namespace {

bool isStreamAddress(const QUrl &url)
{
    return url.isValid() && (url.scheme() == u"ws" || url.scheme() == u"wss") &&
        !url.host().isEmpty();
}

// Stream addresses may carry the session token in their query; the log gets only host and path.
QString loggableAddress(const QUrl &url)
{
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment)
        .toString(QUrl::FullyEncoded);
}

std::optional<QByteArray> validUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return bytes;
}

QString audioSeconds(qint64 bytes)
{
    return QString::number(double(bytes) / 32000.0, 'f', 1);
}

std::chrono::milliseconds reconnectDelay(int attempt)
{
    const qint64 delayMs = 400LL << std::min(attempt, 16);
    return std::chrono::milliseconds(std::min<qint64>(delayMs, 4000));
}

} // namespace

WebSocketStreamClient::WebSocketStreamClient(Clock *clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_reconnectTimer(clock->createTimer(this))
    , m_pingTimer(clock->createTimer(this))
    , m_answerDeadline(clock->createTimer(this))
{
    m_reconnectTimer->setSingleShot(true);
    m_answerDeadline->setSingleShot(true);
    QObject::connect(m_reconnectTimer, &Timer::timeout, this, &WebSocketStreamClient::reconnect);
    QObject::connect(m_pingTimer, &Timer::timeout, this, &WebSocketStreamClient::sendPing);
    QObject::connect(m_answerDeadline, &Timer::timeout, this, [this] {
        handleFailure({QStringLiteral("no answer within %1 ms").arg(kAnswerDeadline.count()),
                       APIClientError::transport(APIClientError::Transport::timedOut)
                           .localizedDescription()});
    });
}

WebSocketStreamClient::~WebSocketStreamClient()
{
    m_isRunning = false;
    m_onEventHandler = nullptr;
    dropSocket();
}

void WebSocketStreamClient::open(const QString &wsURL, const QString &language,
                                 const QString &sttModel, EventHandler onEvent)
{
    const QUrl url(wsURL, QUrl::StrictMode);
    if (!isStreamAddress(url))
        throw APIClientError::invalidBaseURL();

    dropSocket();
    m_reconnectTimer->stop();
    ++m_runId;
    m_onEventHandler = std::move(onEvent);
    m_wsURLString = wsURL;
    m_language = language;
    m_sttModel = sttModel;
    m_startConfirmed = false;
    m_lastStartAttemptMs.reset();
    m_reconnectAttempts = 0;
    m_isReconnecting = false;
    m_audioFramesSent = 0;
    m_transcriptEventsReceived = 0;
    m_stopSent = false;
    m_stopHeld = false;
    m_audio.reset();
    m_answeredOffset.reset();
    m_audioTransportMode = AudioTransportMode::binary;

    AppLog::write(QStringLiteral("ws connect url=%1 language=%2 model=%3")
                      .arg(loggableAddress(url), language, sttModel));
    m_isRunning = true;
    QPointer<WebSocketStreamClient> self(this);
    openSocket();
    if (!self)
        return;
    m_startPayloadText = StreamClientMessage::startFrame(m_language, m_sttModel);
    attemptSendStart(true);
}

void WebSocketStreamClient::openSocket()
{
    auto *socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    socket->setMaxAllowedIncomingMessageSize(kMaxIncomingMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(kMaxIncomingMessageBytes);
    m_socket = socket;
    m_socketOpened = false;
    m_serverStopped = false;
    m_pending.clear();

    QObject::connect(socket, &QWebSocket::connected, this, &WebSocketStreamClient::handleConnected);
    QObject::connect(socket, &QWebSocket::textMessageReceived, this,
                     [this](const QString &text) { handleMessage(text.toUtf8()); });
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, this,
                     [this](const QByteArray &bytes) {
                         // Binary frames count only when they hold valid UTF-8 text.
                         if (const auto text = validUtf8(bytes))
                             handleMessage(*text);
                     });
    QObject::connect(socket, &QWebSocket::pong, this, [this](quint64, const QByteArray &payload) {
        m_answerDeadline->stop();
        acknowledgeAudio(payload);
        Q_EMIT pongReceived();
    });
    // Qt 6.4 names this signal error(); its getter overload makes the cast necessary.
    QObject::connect(
        socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
        [this](QAbstractSocket::SocketError error) { handleFailure(socketErrorFailure(error)); });
    QObject::connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        // A socket that never opened has no close code worth reporting; its error says more.
        if (!m_socketOpened) {
            const auto error = socket->error();
            handleFailure(socketErrorFailure(error == QAbstractSocket::UnknownSocketError
                                                 ? QAbstractSocket::ConnectionRefusedError
                                                 : error));
            return;
        }
        handleFailure(closeFailure(socket->closeCode()));
    });

    // A peer that accepts the connection but never completes the handshake counts as gone.
    m_answerDeadline->start(kAnswerDeadline);
    socket->open(QUrl(m_wsURLString, QUrl::StrictMode));
}

void WebSocketStreamClient::dropSocket()
{
    stopLivenessTimers();
    m_pending.clear();
    QWebSocket *socket = m_socket.data();
    m_socket.clear();
    if (!socket)
        return;
    QObject::disconnect(socket, nullptr, this, nullptr);
    // The socket may be in the middle of emitting one of its own signals; it goes away from the
    // event loop, after the close frame has been flushed.
    socket->setParent(nullptr);
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
    socket->deleteLater();
}

void WebSocketStreamClient::stopLivenessTimers()
{
    m_pingTimer->stop();
    m_answerDeadline->stop();
}

void WebSocketStreamClient::handleConnected()
{
    m_socketOpened = true;
    m_answerDeadline->stop();
    m_pingTimer->start(kPingInterval);
    QPointer<WebSocketStreamClient> self(this);
    flushPending();
    if (self)
        releaseHeldStop();
    if (self && m_socket)
        Q_EMIT socketOpened();
}

void WebSocketStreamClient::flushPending()
{
    const auto pending = std::exchange(m_pending, {});
    const quint64 run = m_runId;
    QPointer<WebSocketStreamClient> self(this);
    QPointer<QWebSocket> socket = m_socket;
    for (const auto &[payload, isText] : pending) {
        // A failed send drops the socket (and its handler may drop this client); what is left
        // of the queue goes with it.
        if (!self || !m_isRunning || run != m_runId || m_socket != socket)
            return;
        sendFrame(payload, isText);
    }
}

void WebSocketStreamClient::sendFrame(const QByteArray &payload, bool isText)
{
    if (!m_socket)
        return;
    switch (m_socket->state()) {
    case QAbstractSocket::ConnectedState:
        break;
    case QAbstractSocket::UnconnectedState:
    case QAbstractSocket::ClosingState:
        handleFailure({QStringLiteral("send on closed socket"),
                       QStringLiteral("Lähetys palvelimelle epäonnistui")});
        return;
    default:
        m_pending.append({payload, isText});
        return;
    }
    const qint64 written = isText ? m_socket->sendTextMessage(QString::fromUtf8(payload))
                                  : m_socket->sendBinaryMessage(payload);
    if (written < payload.size())
        handleFailure(
            {QStringLiteral("send failed written=%1 size=%2").arg(written).arg(payload.size()),
             QStringLiteral("Lähetys palvelimelle epäonnistui")});
}

void WebSocketStreamClient::attemptSendStart(bool force)
{
    if (!m_isRunning || m_startPayloadText.isEmpty())
        return;
    const qint64 now = m_clock->monotonicMs();
    if (!force && m_lastStartAttemptMs &&
        now - *m_lastStartAttemptMs < kStartRepeatInterval.count())
        return;
    m_lastStartAttemptMs = now;
    sendFrame(m_startPayloadText, true);
}

void WebSocketStreamClient::sendAudio(const QByteArray &data)
{
    if (!m_isRunning || m_stopSent || m_stopHeld)
        return;
    if (!m_socket) {
        // Held for the socket the reconnect opens; with no reconnect coming nothing carries it.
        if (m_isReconnecting)
            m_audio.append(data);
        return;
    }
    m_audio.append(data);
    if (!m_startConfirmed) {
        const quint64 run = m_runId;
        QPointer<WebSocketStreamClient> self(this);
        attemptSendStart(false);
        if (!self || !m_isRunning || run != m_runId)
            return;
    }
    sendChunk(data);
}

void WebSocketStreamClient::sendChunk(const QByteArray &data)
{
    ++m_audioFramesSent;
    if (m_audioTransportMode == AudioTransportMode::binary && m_transcriptEventsReceived == 0 &&
        m_audioFramesSent >= kBase64SwitchFrameCount) {
        // Some servers ignore binary frames; after this many chunks without a transcript the
        // JSON framing is the better bet for the rest of the run.
        m_audioTransportMode = AudioTransportMode::base64JSON;
        AppLog::write(QStringLiteral("ws audio framing switched to base64 framesSent=%1")
                          .arg(m_audioFramesSent));
    }
    if (m_audioTransportMode == AudioTransportMode::binary)
        sendFrame(data, false);
    else
        sendFrame(StreamClientMessage::audioFrame(data), true);
}

void WebSocketStreamClient::resendHeldAudio()
{
    const std::deque<StreamAudioBuffer::Chunk> chunks = m_audio.chunks();
    if (!chunks.empty())
        AppLog::write(QStringLiteral("ws audio resent chunks=%1 seconds=%2 offset=%3")
                          .arg(chunks.size())
                          .arg(audioSeconds(m_audio.endOffset() - m_audio.resumeOffset()))
                          .arg(m_audio.resumeOffset()));
    const quint64 run = m_runId;
    QPointer<WebSocketStreamClient> self(this);
    QPointer<QWebSocket> socket = m_socket;
    for (const StreamAudioBuffer::Chunk &chunk : chunks) {
        if (!self || !m_isRunning || run != m_runId || !m_socket || m_socket != socket)
            return;
        sendChunk(chunk.pcm);
    }
    releaseHeldStop();
}

void WebSocketStreamClient::releaseHeldStop()
{
    // Only into an open socket: a stop queued for one that then fails to open would count as
    // sent, and the stream would end instead of trying the next socket with the held audio.
    if (!m_stopHeld || !m_socket || !m_socketOpened || !m_isRunning)
        return;
    m_stopHeld = false;
    m_stopSent = true;
    sendFrame(StreamClientMessage::stopFrame(), true);
}

void WebSocketStreamClient::acknowledgeAudio(const QByteArray &pingPayload)
{
    bool ok = false;
    const qint64 offset = pingPayload.toLongLong(&ok);
    if (!ok)
        return;
    // A pong says the server read the audio up to the ping, not that it kept it: a server
    // killed right after answering may not have stored its last second. So the audio of one
    // more ping interval stays until the next pong.
    if (m_answeredOffset)
        m_audio.acknowledge(*m_answeredOffset);
    m_answeredOffset = offset;
}

void WebSocketStreamClient::logDroppedAudio(const char *when)
{
    const qint64 dropped = m_audio.takeDroppedBytes();
    if (dropped > 0)
        AppLog::write(QStringLiteral("ws audio buffer full %1 droppedSeconds=%2")
                          .arg(QLatin1String(when), audioSeconds(dropped)));
}

void WebSocketStreamClient::sendStop()
{
    if (!m_isRunning || m_stopSent || m_stopHeld)
        return;
    if (!m_socket && m_isReconnecting) {
        m_stopHeld = true;
        AppLog::write(QStringLiteral("ws stop held until reconnect"));
        return;
    }
    m_stopSent = true;
    sendFrame(StreamClientMessage::stopFrame(), true);
}

void WebSocketStreamClient::close()
{
    const bool wasRunning = m_isRunning;
    // Closed during an outage: what the stream held for the next socket goes with it.
    if (wasRunning && m_isReconnecting && m_audio.bytes() > 0)
        AppLog::write(QStringLiteral("ws audio dropped with the stream seconds=%1")
                          .arg(audioSeconds(m_audio.bytes())));
    m_isRunning = false;
    m_isReconnecting = false;
    ++m_runId;
    m_reconnectTimer->stop();
    dropSocket();
    m_startPayloadText.clear();
    m_startConfirmed = false;
    m_wsURLString.clear();
    m_language.clear();
    m_sttModel.clear();
    m_reconnectAttempts = 0;
    m_audioFramesSent = 0;
    m_transcriptEventsReceived = 0;
    m_stopSent = false;
    m_stopHeld = false;
    m_audio.reset();
    m_answeredOffset.reset();
    m_serverStopped = false;
    m_onEventHandler = nullptr;
    if (wasRunning)
        AppLog::write(QStringLiteral("ws disconnect"));
}

void WebSocketStreamClient::handleMessage(const QByteArray &utf8)
{
    if (!m_isRunning)
        return;
    const auto event = StreamEvent::parse(utf8, m_clock->now());
    if (!event)
        return; // malformed or unknown frames are dropped without a word
    if (event->isTranscript() || event->status()) {
        if (!m_startConfirmed)
            logDroppedAudio("on reconnect");
        m_reconnectAttempts = 0;
        m_isReconnecting = false;
        m_startConfirmed = true;
        m_serverStopped = event->status() && event->status()->state == u"stopped";
    }
    if (event->isTranscript())
        ++m_transcriptEventsReceived;
    deliver(*event);
}

bool WebSocketStreamClient::deliver(const StreamEvent &event)
{
    if (!m_onEventHandler)
        return m_isRunning;
    QPointer<WebSocketStreamClient> self(this);
    const quint64 run = m_runId;
    const EventHandler handler = m_onEventHandler; // the handler may replace or drop itself
    handler(event);
    return self && m_isRunning && m_runId == run;
}

void WebSocketStreamClient::handleFailure(const Failure &failure)
{
    if (!m_isRunning || m_isReconnecting)
        return;
    // The failed socket is given up at once: nothing more is read from it or sent to it.
    dropSocket();
    if (m_stopSent) {
        // The server ending the stream we asked it to end is no reason to open a new one.
        AppLog::write(QStringLiteral("ws closed after stop reason=%1").arg(failure.logReason));
        return;
    }
    if (m_serverStopped && failure.normalClose) {
        // The server ended the session and said so; a new socket would only hear it again.
        AppLog::write(
            QStringLiteral("ws closed after server stop reason=%1").arg(failure.logReason));
        return;
    }
    if (m_reconnectAttempts >= kMaxReconnectAttempts) {
        AppLog::write(QStringLiteral("ws reconnect exhausted attempts=%1 reason=%2")
                          .arg(m_reconnectAttempts)
                          .arg(failure.logReason));
        // The recording ends with this error; the audio still held goes with it.
        const qint64 overflow = m_audio.takeDroppedBytes();
        if (m_audio.bytes() + overflow > 0)
            AppLog::write(QStringLiteral("ws audio dropped with the stream seconds=%1")
                              .arg(audioSeconds(m_audio.bytes() + overflow)));
        m_audio.clear();
        m_stopHeld = false;
        deliver(StreamEvent {StreamEvent::Error {
            QStringLiteral("WS-yhteys katkesi eikä uudelleenyhteys onnistunut: ") +
            failure.description}});
        return;
    }
    const int attempt = m_reconnectAttempts;
    m_reconnectAttempts = attempt + 1;
    m_isReconnecting = true;
    const auto delay = reconnectDelay(attempt);
    AppLog::write(QStringLiteral("ws reconnect scheduled attempt=%1 delayMs=%2 reason=%3")
                      .arg(m_reconnectAttempts)
                      .arg(delay.count())
                      .arg(failure.logReason));
    if (!deliver(StreamEvent {StreamEvent::Status {QStringLiteral("reconnecting"), std::nullopt}}))
        return;
    m_reconnectTimer->start(delay);
}

void WebSocketStreamClient::reconnect()
{
    if (!m_isRunning)
        return;
    if (m_wsURLString.isEmpty()) {
        m_isReconnecting = false;
        deliver(StreamEvent {
            StreamEvent::Error {QStringLiteral("WS-uudelleenyhteys epäonnistui: puuttuva URL")}});
        return;
    }
    dropSocket();
    if (!isStreamAddress(QUrl(m_wsURLString, QUrl::StrictMode))) {
        m_isReconnecting = false;
        deliver(StreamEvent {StreamEvent::Error {
            QStringLiteral("WS-uudelleenyhteys epäonnistui: virheellinen URL")}});
        return;
    }
    m_startConfirmed = false;
    m_lastStartAttemptMs.reset();
    m_startPayloadText =
        StreamClientMessage::startFrame(m_language, m_sttModel, m_audio.resumeOffset());
    // Cleared before the new socket exists, so that even a failure reported while it opens
    // takes the failure path.
    m_isReconnecting = false;
    QPointer<WebSocketStreamClient> self(this);
    openSocket();
    if (self)
        attemptSendStart(true);
    if (self)
        resendHeldAudio();
}

bool WebSocketStreamClient::isAwaitingPong() const
{
    return m_socketOpened && m_answerDeadline->isActive();
}

void WebSocketStreamClient::sendPing()
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    // The payload marks how far the audio had gone, so the pong can release what it covers.
    m_socket->ping(QByteArray::number(m_audio.endOffset()));
    // The deadline runs from the oldest unanswered ping; a pong clears it.
    if (!m_answerDeadline->isActive())
        m_answerDeadline->start(kAnswerDeadline);
}

WebSocketStreamClient::Failure
WebSocketStreamClient::socketErrorFailure(QAbstractSocket::SocketError error)
{
    using Transport = APIClientError::Transport;
    Transport reason = Transport::other;
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyNotFoundError:
        reason = Transport::unreachable;
        break;
    case QAbstractSocket::RemoteHostClosedError:
        reason = Transport::connectionLost;
        break;
    case QAbstractSocket::SocketTimeoutError:
        reason = Transport::timedOut;
        break;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        reason = Transport::secureChannel;
        break;
    default:
        break;
    }
    const char *name = QMetaEnum::fromType<QAbstractSocket::SocketError>().valueToKey(error);
    return {QStringLiteral("socket error=%1").arg(QLatin1String(name ? name : "unknown")),
            APIClientError::transport(reason, static_cast<int>(error)).localizedDescription()};
}

WebSocketStreamClient::Failure WebSocketStreamClient::closeFailure(int closeCode)
{
    if (closeCode == QWebSocketProtocol::CloseCodeAbnormalDisconnection)
        return {QStringLiteral("closed without close frame"),
                APIClientError::transport(APIClientError::Transport::connectionLost)
                    .localizedDescription()};
    return {QStringLiteral("closed by server code=%1").arg(closeCode),
            QStringLiteral("Palvelin sulki yhteyden (koodi %1)").arg(closeCode),
            closeCode == QWebSocketProtocol::CloseCodeNormal};
}

StreamClientFactory defaultStreamClientFactory(Clock *clock)
{
    return [clock] { return std::make_unique<WebSocketStreamClient>(clock); };
}

} // namespace vernalo
