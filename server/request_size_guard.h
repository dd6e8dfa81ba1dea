#pragma once

#include <QByteArray>
#include <QPointer>
#include <QTcpServer>

namespace vernalo {
class Clock;
class Timer;
} // namespace vernalo

class QTcpSocket;

namespace vernalo::server {

// A listening socket for the HTTP server that looks at every request head before the HTTP
// server buffers the body. A body declared larger than the cap is answered 413 at once and
// never read into memory; chunked bodies (which declare no size) get 411, oversized heads 431.
class GuardedTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    GuardedTcpServer(qint64 maxBodyBytes, Clock &clock, QObject *parent = nullptr);

    static constexpr qint64 kMaxHeadBytes = 64 * 1024;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    qint64 m_maxBodyBytes;
    Clock &m_clock;
};

// Follows one connection's byte stream request by request. Connected to readyRead before the
// HTTP server, so it sees each byte before the server reads it.
class RequestSizeGuard : public QObject
{
    Q_OBJECT
public:
    RequestSizeGuard(QTcpSocket *socket, qint64 maxBodyBytes, Clock &clock);

    // After a rejection the connection lingers this long, discarding input, so the client can
    // read the answer before the socket closes (closing with unread input resets it).
    static constexpr int kLingerMs = 2000;

private:
    void onReadyRead();
    void consume(const QByteArray &bytes);
    bool finishHead(const QByteArray &head);
    void reject(int status, const QByteArray &reason, const QString &message);

    enum class State { Head, Body, Passthrough, Rejected };
    QTcpSocket *m_socket;
    qint64 m_maxBodyBytes;
    Clock &m_clock;
    State m_state = State::Head;
    QByteArray m_head;
    qint64 m_bodyRemaining = 0;
    QPointer<Timer> m_linger;
};

} // namespace vernalo::server
