#pragma once

#include <memory>
#include <optional>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

namespace vernalo::test {

// One message the client sent, as the peer received it.
struct StreamFrame
{
    bool isText = false;
    QByteArray data; // UTF-8 for text frames

    bool operator==(const StreamFrame &) const = default;
};

// One client connection as the peer saw it.
struct StreamConnection
{
    QUrl requestUrl; // path and query of the upgrade request
    bool upgraded = false;
    QList<StreamFrame> frames;
    int wireFrames = 0; // frames on the wire; equals frames.size() when nothing was fragmented
    bool closed = false;
    // The close code the client's close frame carried; no value when the connection ended
    // without one (dropped, or still open).
    std::optional<int> clientCloseCode;
};

// A WebSocket server on 127.0.0.1 (port chosen by the system) that records every frame and
// close code a client sends and plays a scripted part: sends events, closes with a given code,
// drops the TCP connection, or goes silent like a peer that vanished without closing (it stops
// reading, so pings are never answered).
class LoopbackStreamPeer : public QObject
{
    Q_OBJECT
public:
    explicit LoopbackStreamPeer(QObject *parent = nullptr);
    ~LoopbackStreamPeer() override;

    bool start();
    // Stops accepting: later connection attempts are refused.
    void stopListening();
    quint16 port() const { return m_port; }
    // "ws://127.0.0.1:<port>" + pathAndQuery.
    QUrl url(const QString &pathAndQuery = QStringLiteral("/v1/sessions/s1/stream")) const
    {
        return QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(m_port).arg(pathAndQuery));
    }

    // Behaviour for connections that arrive from now on.
    // Accept TCP but never answer the upgrade request.
    void setAnswerHandshakes(bool answer) { m_answerHandshakes = answer; }
    // Close every new connection with this code right after the upgrade.
    void setCloseOnOpen(std::optional<int> code) { m_closeOnOpen = code; }

    int connectionCount() const { return static_cast<int>(m_connections.size()); }
    int openConnectionCount() const;
    // -1 is the newest connection.
    const StreamConnection &connection(int index = -1) const { return slot(index).record; }

    void sendText(const QByteArray &utf8, int index = -1);
    void sendBinary(const QByteArray &bytes, int index = -1);
    void closeWith(int code, int index = -1);
    // Ends the TCP connection without a close frame.
    void dropConnection(int index = -1);
    // Stops reading the connection: nothing is received, pings go unanswered.
    void goSilent(int index = -1);

private:
    struct Slot
    {
        StreamConnection record;
        QPointer<QTcpSocket> tcp;
        QPointer<QWebSocket> socket;
    };

    void acceptTcp();
    void adoptWebSocket(QWebSocket *socket);
    Slot &slot(int index) const;

    std::unique_ptr<QTcpServer> m_tcpServer;
    std::unique_ptr<QWebSocketServer> m_server;
    quint16 m_port = 0;
    bool m_answerHandshakes = true;
    std::optional<int> m_closeOnOpen;
    QList<std::shared_ptr<Slot>> m_connections;
};

} // namespace vernalo::test
