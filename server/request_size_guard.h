#pragma once

#include <chrono>
#include <optional>
#include <QByteArray>
#include <QSslConfiguration>
#include <QTcpServer>

namespace vernalo {
class Clock;
class Timer;
} // namespace vernalo

class QTcpSocket;

namespace vernalo::server {

struct HeadVerdict;

struct ConnectionLimits
{
    qint64 maxBodyBytes = 8 * 1024 * 1024;
    int maxConnections = 256;
    // From the first byte of a head to its end; a head that trickles in is cut off.
    std::chrono::milliseconds headTimeout {std::chrono::seconds(10)};
    // Between requests, and between reads of a body.
    std::chrono::milliseconds idleTimeout {std::chrono::seconds(60)};
};

// A listening socket for the HTTP server that looks at every request head before the HTTP
// server buffers the body, and refuses connections beyond the cap with 503.
class GuardedTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    GuardedTcpServer(ConnectionLimits limits, Clock &clock, QObject *parent = nullptr);
    // Every connection speaks TLS with this configuration from then on.
    void setTls(const QSslConfiguration &configuration) { m_tls = configuration; }

    static constexpr qint64 kMaxHeadBytes = 64 * 1024;
    int openConnections() const { return m_open; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    ConnectionLimits m_limits;
    Clock &m_clock;
    int m_open = 0;
    std::optional<QSslConfiguration> m_tls;
};

// Follows one connection's byte stream request by request. Connected to readyRead before the
// HTTP server, which reads everything available after it, so each readyRead brings new bytes.
class RequestSizeGuard : public QObject
{
    Q_OBJECT
public:
    RequestSizeGuard(QTcpSocket *socket, const ConnectionLimits &limits, Clock &clock);

    // After a rejection the connection lingers this long, discarding input, so the client can
    // read the answer before the socket closes (closing with unread input resets it).
    static constexpr int kLingerMs = 2000;

    // Writes a JSON error answer and closes after the linger time.
    static void answerAndClose(QTcpSocket *socket, Clock &clock, int status,
                               const QByteArray &reason, const QString &message);

private:
    void onReadyRead();
    void consume(const QByteArray &bytes);
    bool finishHead(const QByteArray &head);
    void reject(int status, const QByteArray &reason, const QString &message);
    void onTimeout();
    void armIdle();

    enum class State { Head, Body, Passthrough, Rejected };
    QTcpSocket *m_socket;
    ConnectionLimits m_limits;
    Clock &m_clock;
    State m_state = State::Head;
    QByteArray m_head;
    qint64 m_bodyRemaining = 0;
    Timer *m_deadline;
};

} // namespace vernalo::server
