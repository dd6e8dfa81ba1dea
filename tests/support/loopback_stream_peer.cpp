#include "support/loopback_stream_peer.h"

#include <algorithm>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

namespace vernalo::test {

LoopbackStreamPeer::LoopbackStreamPeer(QObject *parent)
    : QObject(parent)
    , m_tcpServer(std::make_unique<QTcpServer>())
    , m_server(std::make_unique<QWebSocketServer>(QStringLiteral("loopback-stream-peer"),
                                                  QWebSocketServer::NonSecureMode))
{
    // The peer owns the TCP side so it can hold a connection without answering, or stop
    // reading it; the WebSocket server only runs the protocol on sockets handed to it.
    connect(m_tcpServer.get(), &QTcpServer::newConnection, this, &LoopbackStreamPeer::acceptTcp);
    connect(m_server.get(), &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket *socket = m_server->nextPendingConnection())
            adoptWebSocket(socket);
    });
}

LoopbackStreamPeer::~LoopbackStreamPeer()
{
    for (const auto &slot : std::as_const(m_connections)) {
        if (slot->socket)
            slot->socket->disconnect(this);
    }
}

bool LoopbackStreamPeer::start()
{
    if (!m_tcpServer->listen(QHostAddress::LocalHost, 0))
        return false;
    m_port = m_tcpServer->serverPort();
    return true;
}

void LoopbackStreamPeer::stopListening()
{
    m_tcpServer->close();
}

int LoopbackStreamPeer::openConnectionCount() const
{
    return int(std::count_if(m_connections.begin(), m_connections.end(),
                             [](const auto &slot) { return !slot->record.closed; }));
}

LoopbackStreamPeer::Slot &LoopbackStreamPeer::slot(int index) const
{
    const int resolved = index < 0 ? connectionCount() + index : index;
    Q_ASSERT(resolved >= 0 && resolved < connectionCount());
    return *m_connections.at(resolved);
}

void LoopbackStreamPeer::acceptTcp()
{
    while (QTcpSocket *tcp = m_tcpServer->nextPendingConnection()) {
        auto slot = std::make_shared<Slot>();
        slot->tcp = tcp;
        m_connections.append(slot);
        connect(tcp, &QTcpSocket::disconnected, this, [slot] {
            if (!slot->socket)
                slot->record.closed = true;
        });
        if (m_answerHandshakes)
            m_server->handleConnection(tcp);
        else
            tcp->setParent(this);
    }
}

void LoopbackStreamPeer::adoptWebSocket(QWebSocket *socket)
{
    // Pair the upgraded socket with the TCP connection it came from.
    const auto found = std::find_if(m_connections.begin(), m_connections.end(), [&](const auto &c) {
        return !c->socket && c->tcp && c->tcp->peerPort() == socket->peerPort();
    });
    if (found == m_connections.end()) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    const std::shared_ptr<Slot> slot = *found;
    socket->setParent(this);
    slot->socket = socket;
    slot->record.upgraded = true;
    slot->record.requestUrl = socket->requestUrl();

    connect(socket, &QWebSocket::textMessageReceived, this, [slot](const QString &text) {
        slot->record.frames.append({true, text.toUtf8()});
    });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [slot](const QByteArray &bytes) {
        slot->record.frames.append({false, bytes});
    });
    connect(socket, &QWebSocket::textFrameReceived, this, [slot] { ++slot->record.wireFrames; });
    connect(socket, &QWebSocket::binaryFrameReceived, this, [slot] { ++slot->record.wireFrames; });
    connect(socket, &QWebSocket::disconnected, this, [slot, socket] {
        if (slot->record.closed)
            return;
        slot->record.closed = true;
        // Qt reports a connection that ended without a close frame as 1006.
        if (socket->closeCode() != QWebSocketProtocol::CloseCodeAbnormalDisconnection)
            slot->record.clientCloseCode = socket->closeCode();
    });
    if (m_closeOnOpen)
        socket->close(static_cast<QWebSocketProtocol::CloseCode>(*m_closeOnOpen));
}

void LoopbackStreamPeer::sendText(const QByteArray &utf8, int index)
{
    if (QWebSocket *socket = slot(index).socket)
        socket->sendTextMessage(QString::fromUtf8(utf8));
}

void LoopbackStreamPeer::sendBinary(const QByteArray &bytes, int index)
{
    if (QWebSocket *socket = slot(index).socket)
        socket->sendBinaryMessage(bytes);
}

void LoopbackStreamPeer::closeWith(int code, int index)
{
    if (QWebSocket *socket = slot(index).socket)
        socket->close(static_cast<QWebSocketProtocol::CloseCode>(code));
}

void LoopbackStreamPeer::dropConnection(int index)
{
    if (QWebSocket *socket = slot(index).socket)
        socket->abort();
    else if (QTcpSocket *tcp = slot(index).tcp)
        tcp->abort();
}

void LoopbackStreamPeer::goSilent(int index)
{
    // With its TCP socket's signals blocked the WebSocket never sees incoming bytes, so it
    // neither records frames nor answers pings; the connection itself stays open.
    if (QTcpSocket *tcp = slot(index).tcp)
        tcp->blockSignals(true);
}

} // namespace vernalo::test
