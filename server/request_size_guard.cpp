#include "request_size_guard.h"

#include "wire/clock.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

namespace vernalo::server {

GuardedTcpServer::GuardedTcpServer(qint64 maxBodyBytes, Clock &clock, QObject *parent)
    : QTcpServer(parent)
    , m_maxBodyBytes(maxBodyBytes)
    , m_clock(clock)
{ }

void GuardedTcpServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    new RequestSizeGuard(socket, m_maxBodyBytes, m_clock);
    addPendingConnection(socket);
}

RequestSizeGuard::RequestSizeGuard(QTcpSocket *socket, qint64 maxBodyBytes, Clock &clock)
    : QObject(socket)
    , m_socket(socket)
    , m_maxBodyBytes(maxBodyBytes)
    , m_clock(clock)
{
    connect(socket, &QTcpSocket::readyRead, this, &RequestSizeGuard::onReadyRead);
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
            continue;
        }
        // Blank lines before a request line are allowed and ignored.
        while (m_head.isEmpty() && pos < bytes.size() && (bytes[pos] == '\r' || bytes[pos] == '\n'))
            ++pos;
        if (pos >= bytes.size())
            break;
        const qsizetype before = m_head.size();
        m_head.append(bytes.constData() + pos, bytes.size() - pos);
        const qsizetype end = m_head.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_head.size() > GuardedTcpServer::kMaxHeadBytes)
                reject(431, "Request Header Fields Too Large",
                       QStringLiteral("Pyynnön otsakkeet ovat liian suuret"));
            return;
        }
        const qsizetype headLength = end + 4;
        pos += headLength - before;
        const QByteArray head = m_head.left(headLength);
        m_head.clear();
        if (!finishHead(head))
            return;
    }
}

bool RequestSizeGuard::finishHead(const QByteArray &head)
{
    qint64 contentLength = 0;
    bool chunked = false;
    bool upgrade = false;
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            bool ok = false;
            contentLength = value.toLongLong(&ok);
            if (!ok || contentLength < 0) {
                reject(400, "Bad Request", QStringLiteral("Virheellinen Content-Length"));
                return false;
            }
        } else if (name == "transfer-encoding") {
            chunked = value.toLower().contains("chunked");
        } else if (name == "upgrade") {
            upgrade = true;
        }
    }
    if (upgrade) {
        // From here on the bytes are WebSocket frames, which have their own size limit.
        m_state = State::Passthrough;
        return false;
    }
    if (chunked) {
        reject(411, "Length Required", QStringLiteral("Pyynnön rungon pituus puuttuu"));
        return false;
    }
    if (contentLength > m_maxBodyBytes) {
        reject(
            413, "Payload Too Large",
            QStringLiteral("Pyynnön runko on liian suuri (enintään %1 tavua)").arg(m_maxBodyBytes));
        return false;
    }
    m_bodyRemaining = contentLength;
    m_state = contentLength > 0 ? State::Body : State::Head;
    return true;
}

void RequestSizeGuard::reject(int status, const QByteArray &reason, const QString &message)
{
    m_state = State::Rejected;
    const QByteArray body = QJsonDocument(QJsonObject {{QStringLiteral("error"), message}})
                                .toJson(QJsonDocument::Compact);
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    response +=
        "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    // Whatever is buffered must not reach the HTTP server, which reads right after this.
    m_socket->readAll();
    m_socket->write(response);
    m_linger = m_clock.createTimer(this);
    m_linger->setSingleShot(true);
    connect(m_linger, &Timer::timeout, m_socket,
            [socket = m_socket] { socket->disconnectFromHost(); });
    m_linger->start(std::chrono::milliseconds(kLingerMs));
}

} // namespace vernalo::server
