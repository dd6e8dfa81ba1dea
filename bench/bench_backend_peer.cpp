#include "bench_backend_peer.h"

#include <QCoreApplication>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <QWebSocket>
#include <QWebSocketServer>

namespace vernalo::bench {

namespace {
constexpr int kRecentFinals = 20;
const QString kSession = QStringLiteral("bench");
} // namespace

BenchBackendPeer::BenchBackendPeer(int capacity)
    : m_chunkArrived(new std::atomic<qint64>[static_cast<size_t>(capacity)])
    , m_finalSent(new std::atomic<qint64>[static_cast<size_t>(capacity)])
    , m_capacity(capacity)
{
    for (int i = 0; i < capacity; ++i) {
        m_chunkArrived[i] = 0;
        m_finalSent[i] = 0;
    }
}

BenchBackendPeer::~BenchBackendPeer()
{
    stopServing();
}

QString BenchBackendPeer::start()
{
    moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(this, "listenOnThread", Qt::BlockingQueuedConnection);
    return m_restRoot;
}

void BenchBackendPeer::stopServing()
{
    if (!m_thread.isRunning())
        return;
    QMetaObject::invokeMethod(this, "shutdownOnThread", Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void BenchBackendPeer::listenOnThread()
{
    // The stream's TCP side is accepted here so Nagle's delay can be switched off, as a
    // streaming server does: otherwise an event written right after another waits for the
    // client's delayed acknowledgement, and the bench would time the backend's socket.
    m_streamServer =
        new QWebSocketServer(QStringLiteral("bench"), QWebSocketServer::NonSecureMode, this);
    m_tcpServer = new QTcpServer(this);
    if (!m_tcpServer->listen(QHostAddress::LocalHost, 0))
        return;
    m_streamPort = m_tcpServer->serverPort();
    connect(m_tcpServer, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *tcp = m_tcpServer->nextPendingConnection()) {
            tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            m_streamServer->handleConnection(tcp);
        }
    });
    connect(m_streamServer, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket *socket = m_streamServer->nextPendingConnection())
            adopt(socket);
    });

    m_http = new QHttpServer(this);
    const QByteArray created =
        QJsonDocument(
            QJsonObject {
                {QStringLiteral("sessionId"), kSession},
                {QStringLiteral("wsUrl"),
                 QStringLiteral("ws://127.0.0.1:%1/v1/sessions/bench/stream").arg(m_streamPort)},
                {QStringLiteral("token"), QStringLiteral("bench-token")}})
            .toJson(QJsonDocument::Compact);
    const auto json = QByteArrayLiteral("application/json");
    m_http->route(QStringLiteral("/v1/sessions"), QHttpServerRequest::Method::Post,
                  [created, json] { return QHttpServerResponse(json, created); });
    m_http->route(QStringLiteral("/v1/sessions/bench/transcript"), QHttpServerRequest::Method::Get,
                  [this, json] { return QHttpServerResponse(json, transcriptAnswer()); });
    m_http->route(QStringLiteral("/v1/sessions/bench"), QHttpServerRequest::Method::Get,
                  [this, json] {
                      return QHttpServerResponse(
                          json,
                          QByteArrayLiteral(R"({"status":"active","audioFrameCount":)") +
                              QByteArray::number(m_chunksReceived.load()) + '}');
                  });
    m_http->route(
        QStringLiteral("/v1/sessions/bench/stop"), QHttpServerRequest::Method::Post,
        [json] { return QHttpServerResponse(json, QByteArrayLiteral(R"({"ok":true})")); });
    const quint16 port = m_http->listen(QHostAddress::LocalHost, 0);
    if (port != 0)
        m_restRoot = QStringLiteral("http://127.0.0.1:%1").arg(port);
}

void BenchBackendPeer::shutdownOnThread()
{
    delete m_socket;
    m_socket = nullptr;
    delete m_streamServer;
    m_streamServer = nullptr;
    delete m_tcpServer;
    m_tcpServer = nullptr;
    delete m_http;
    m_http = nullptr;
    moveToThread(QCoreApplication::instance()->thread());
}

void BenchBackendPeer::adopt(QWebSocket *socket)
{
    delete m_socket; // a reconnect replaces the old stream
    m_socket = socket;
    socket->setParent(this);
    connect(socket, &QWebSocket::binaryMessageReceived, this,
            [this](const QByteArray &pcm) { noteChunk(pcm); });
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString &text) {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        const QString type = message.value(QStringLiteral("type")).toString();
        if (type == u"audio") {
            noteChunk(QByteArray::fromBase64(
                message.value(QStringLiteral("audioBase64")).toString().toLatin1()));
        } else if (type == u"start") {
            socket->sendTextMessage(
                QStringLiteral(R"({"type":"status","state":"listening","sttModel":"bench"})"));
            m_started = true;
            if (onProgress)
                onProgress();
        } else if (type == u"stop") {
            socket->sendTextMessage(QStringLiteral(R"({"type":"status","state":"stopped"})"));
        }
    });
}

void BenchBackendPeer::noteChunk(const QByteArray &pcm)
{
    const qint64 now = steadyNs();
    const int index = indexOf(pcm);
    // Silence of the keep-alive carries index 0 and is counted, not timed.
    if (index > 0 && index < m_capacity && m_chunkArrived[index].load() == 0)
        m_chunkArrived[index] = now;
    ++m_chunksReceived;
    if (onProgress)
        onProgress();
}

void BenchBackendPeer::sendPartial(const QString &text)
{
    const QByteArray utf8 =
        QJsonDocument(QJsonObject {{QStringLiteral("type"), QStringLiteral("partial")},
                                   {QStringLiteral("text"), text}})
            .toJson(QJsonDocument::Compact);
    QMetaObject::invokeMethod(this, "sendTextOnThread", Qt::QueuedConnection,
                              Q_ARG(QByteArray, utf8), Q_ARG(int, -1));
}

void BenchBackendPeer::sendFinal(int index, const QString &text, const QDateTime &timestamp)
{
    const QJsonObject segment {{QStringLiteral("text"), text},
                               {QStringLiteral("ts"), timestamp.toUTC().toString(Qt::ISODate)}};
    QJsonObject event = segment;
    event.insert(QStringLiteral("type"), QStringLiteral("final"));
    QMetaObject::invokeMethod(
        this, "sendTextOnThread", Qt::QueuedConnection,
        Q_ARG(QByteArray, QJsonDocument(event).toJson(QJsonDocument::Compact)), Q_ARG(int, index));
    // The transcript route answers the same segment from now on (touched on the peer's thread).
    const QByteArray stored = QJsonDocument(segment).toJson(QJsonDocument::Compact);
    QMetaObject::invokeMethod(this, [this, stored] {
        m_recentFinals.append(stored);
        if (m_recentFinals.size() > kRecentFinals)
            m_recentFinals.removeFirst();
    });
}

void BenchBackendPeer::sendTextOnThread(const QByteArray &utf8, int finalIndex)
{
    if (!m_socket)
        return;
    m_socket->sendTextMessage(QString::fromUtf8(utf8));
    m_socket->flush();
    // From here the event is readable on the client's socket.
    if (finalIndex >= 0 && finalIndex < m_capacity)
        m_finalSent[finalIndex] = steadyNs();
}

QByteArray BenchBackendPeer::transcriptAnswer() const
{
    QByteArray body = R"({"sessionId":"bench","segments":[)";
    for (qsizetype i = 0; i < m_recentFinals.size(); ++i) {
        if (i > 0)
            body += ',';
        body += m_recentFinals.at(i);
    }
    return body + "]}";
}

void BenchBackendPeer::stampIndex(QByteArray &pcm, int index)
{
    qToLittleEndian<qint16>(static_cast<qint16>(index & 0x3FFF), pcm.data());
    qToLittleEndian<qint16>(static_cast<qint16>((index >> 14) & 0x3FFF), pcm.data() + 2);
}

int BenchBackendPeer::indexOf(const QByteArray &pcm)
{
    if (pcm.size() < 4)
        return 0;
    const int low = qFromLittleEndian<qint16>(pcm.constData());
    const int high = qFromLittleEndian<qint16>(pcm.constData() + 2);
    if (low < 0 || high < 0)
        return 0;
    return low | (high << 14);
}

} // namespace vernalo::bench
