#include "request_size_guard.h"

#include "request_head.h"
#include "wire/clock.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSslSocket>

namespace vernalo::server {

GuardedTcpServer::GuardedTcpServer(ConnectionLimits limits, Clock &clock, QObject *parent)
    : QTcpServer(parent)
    , m_limits(limits)
    , m_clock(clock)
{ }

void GuardedTcpServer::incomingConnection(qintptr descriptor)
{
    QSslSocket *tls = m_tls ? new QSslSocket(this) : nullptr;
    QTcpSocket *socket = tls ? tls : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (tls) {
        tls->setSslConfiguration(*m_tls);
        tls->startServerEncryption();
    }
    if (m_open >= m_limits.maxConnections) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
        RequestSizeGuard::answerAndClose(socket, m_clock, 503, "Service Unavailable",
                                         QStringLiteral("Palvelimella on liian monta yhteyttä"));
        return;
    }
    ++m_open;
    connect(socket, &QObject::destroyed, this, [this] { --m_open; });
    new RequestSizeGuard(socket, m_limits, m_clock);
    addPendingConnection(socket);
}

RequestSizeGuard::RequestSizeGuard(QTcpSocket *socket, const ConnectionLimits &limits, Clock &clock)
    : QObject(socket)
    , m_socket(socket)
    , m_limits(limits)
    , m_clock(clock)
    , m_deadline(clock.createTimer(this))
{
    m_deadline->setSingleShot(true);
    connect(m_deadline, &Timer::timeout, this, &RequestSizeGuard::onTimeout);
    connect(socket, &QTcpSocket::readyRead, this, &RequestSizeGuard::onReadyRead);
    armIdle();
}

void RequestSizeGuard::armIdle()
{
    m_deadline->start(m_limits.idleTimeout);
}

void RequestSizeGuard::onReadyRead()
{
    if (!m_socket->isOpen())
        return;
    switch (m_state) {
    case State::Passthrough:
        return;
    case State::Rejected:
        m_socket->readAll();
        return;
    case State::Head:
    case State::Body:
        consume(m_socket->peek(m_socket->bytesAvailable()));
        return;
    }
}

void RequestSizeGuard::consume(const QByteArray &bytes)
{
    qsizetype pos = 0;
    while (pos < bytes.size() && (m_state == State::Head || m_state == State::Body)) {
        if (m_state == State::Body) {
            const qint64 take = std::min<qint64>(m_bodyRemaining, bytes.size() - pos);
            m_bodyRemaining -= take;
            pos += take;
            if (m_bodyRemaining == 0)
                m_state = State::Head;
            armIdle();
            continue;
        }
        // Blank lines before a request line are allowed and ignored.
        while (m_head.isEmpty() && pos < bytes.size() && (bytes[pos] == '\r' || bytes[pos] == '\n'))
            ++pos;
        if (pos >= bytes.size())
            break;
        if (m_head.isEmpty())
            m_deadline->start(m_limits.headTimeout);
        const qsizetype before = m_head.size();
        m_head.append(bytes.constData() + pos, bytes.size() - pos);
        const qsizetype headLength = requestHeadEnd(m_head);
        if (headLength < 0) {
            if (m_head.size() > GuardedTcpServer::kMaxHeadBytes)
                reject(431, "Request Header Fields Too Large",
                       QStringLiteral("Pyynnön otsakkeet ovat liian suuret"));
            return;
        }
        if (headLength > GuardedTcpServer::kMaxHeadBytes) {
            reject(431, "Request Header Fields Too Large",
                   QStringLiteral("Pyynnön otsakkeet ovat liian suuret"));
            return;
        }
        pos += headLength - before;
        const QByteArray head = m_head.left(headLength);
        m_head.clear();
        if (!finishHead(head))
            return;
    }
}

bool RequestSizeGuard::finishHead(const QByteArray &head)
{
    const HeadVerdict verdict = judgeRequestHead(head, m_limits.maxBodyBytes);
    switch (verdict.kind) {
    case HeadVerdict::Kind::Reject:
        reject(verdict.status, verdict.reason, verdict.message);
        return false;
    case HeadVerdict::Kind::Upgrade:
        // The live stream has its own message cap and idle time-out.
        m_state = State::Passthrough;
        m_deadline->stop();
        return false;
    case HeadVerdict::Kind::Body:
        break;
    }
    m_bodyRemaining = verdict.bodyLength;
    m_state = verdict.bodyLength > 0 ? State::Body : State::Head;
    armIdle();
    return true;
}

void RequestSizeGuard::onTimeout()
{
    if (m_state == State::Head && m_head.isEmpty()) {
        m_socket->disconnectFromHost();
        return;
    }
    if (m_state == State::Head || m_state == State::Body)
        reject(408, "Request Timeout", QStringLiteral("Pyyntö saapui liian hitaasti"));
}

void RequestSizeGuard::reject(int status, const QByteArray &reason, const QString &message)
{
    m_state = State::Rejected;
    m_deadline->stop();
    // Whatever is buffered must not reach the HTTP server, which reads right after this.
    m_socket->readAll();
    answerAndClose(m_socket, m_clock, status, reason, message);
}

void RequestSizeGuard::answerAndClose(QTcpSocket *socket, Clock &clock, int status,
                                      const QByteArray &reason, const QString &message)
{
    const QByteArray body = QJsonDocument(QJsonObject {{QStringLiteral("error"), message}})
                                .toJson(QJsonDocument::Compact);
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    response +=
        "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    socket->write(response);
    Timer *linger = clock.createTimer(socket);
    linger->setSingleShot(true);
    QObject::connect(linger, &Timer::timeout, socket, [socket] { socket->disconnectFromHost(); });
    linger->start(std::chrono::milliseconds(kLingerMs));
}

} // namespace vernalo::server
