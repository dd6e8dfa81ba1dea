#include "server_test_support.h"

#include "foundation/build_info.h"
#include "recognizer.h"
#include "script_recognizer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtEndian>
#include <QTest>

namespace vernalo::test {

QByteArray sharedApiKey()
{
    return buildinfo::defaultSharedAPIKey().toUtf8();
}

QByteArray sessionRequest(const QString &language)
{
    const QJsonObject request {{QStringLiteral("language"), language},
                               {QStringLiteral("enableInterim"), true},
                               {QStringLiteral("sttModel"), QStringLiteral("chirp_3")},
                               {QStringLiteral("enableSpeakerDiarization"), false},
                               {QStringLiteral("speakerCount"), 0}};
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

QJsonObject HttpResult::json() const
{
    return QJsonDocument::fromJson(body).object();
}

QByteArray HttpResult::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

HttpCaller::HttpCaller(QUrl base)
    : m_base(std::move(base))
{ }

HttpResult HttpCaller::call(const QByteArray &method, const QString &pathAndQuery,
                            const QByteArray &body,
                            const QList<QPair<QByteArray, QByteArray>> &headers)
{
    QNetworkRequest request(m_base.resolved(QUrl(pathAndQuery)));
    request.setTransferTimeout(10000);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    if (!body.isEmpty() && !request.hasRawHeader("Content-Type"))
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/json"));
    QNetworkReply *reply = m_network.sendCustomRequest(request, method, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(10000);
    HttpResult result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.headers = reply->rawHeaderPairs();
    reply->deleteLater();
    return result;
}

HttpResult HttpCaller::stt(const QByteArray &method, const QString &pathAndQuery,
                           const QByteArray &body, const QByteArray &authToken)
{
    QList<QPair<QByteArray, QByteArray>> headers {{"x-api-key", sharedApiKey()}};
    if (!authToken.isEmpty())
        headers.append({"x-auth-token", authToken});
    return call(method, pathAndQuery, body, headers);
}

QByteArray HttpCaller::login(const QString &email, const QString &password)
{
    const QJsonObject body {{QStringLiteral("email"), email},
                            {QStringLiteral("password"), password}};
    const HttpResult result = call("POST", QStringLiteral("/auth/login"),
                                   QJsonDocument(body).toJson(QJsonDocument::Compact));
    return result.json().value(QStringLiteral("token")).toString().toUtf8();
}

QByteArray HttpCaller::rawExchange(quint16 port, const QByteArray &request, int timeoutMs)
{
    // Event-loop waits only: the server may live in this very thread.
    QTcpSocket socket;
    QSignalSpy connected(&socket, &QTcpSocket::connected);
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!connected.wait(timeoutMs))
        return {};
    socket.write(request);
    QByteArray received;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0) {
            if (socket.state() != QAbstractSocket::ConnectedState)
                break;
            QSignalSpy readyRead(&socket, &QTcpSocket::readyRead);
            if (!readyRead.wait(int(std::max<qint64>(1, deadline.remainingTime()))))
                break;
        }
        received += socket.readAll();
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        if (headEnd < 0)
            continue;
        const QByteArray head = received.left(headEnd).toLower();
        const qsizetype at = head.indexOf("content-length:");
        if (at < 0)
            continue;
        const qsizetype lineEnd = head.indexOf('\r', at);
        const qint64 length = head.mid(at + 15, (lineEnd < 0 ? head.size() : lineEnd) - at - 15)
                                  .trimmed()
                                  .toLongLong();
        if (received.size() >= headEnd + 4 + length)
            break;
    }
    return received;
}

StreamPeer::StreamPeer()
{
    connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
        m_events.append(QJsonDocument::fromJson(text.toUtf8()).object());
    });
}

bool StreamPeer::open(const QString &url)
{
    QSignalSpy connected(&m_socket, &QWebSocket::connected);
    m_socket.open(QUrl(url));
    return connected.wait(5000);
}

void StreamPeer::sendStart(const QString &language, std::optional<qint64> audioOffset)
{
    QJsonObject start {{QStringLiteral("type"), QStringLiteral("start")},
                       {QStringLiteral("language"), language},
                       {QStringLiteral("sampleRate"), 16000},
                       {QStringLiteral("enableInterim"), true},
                       {QStringLiteral("sttModel"), QStringLiteral("chirp_3")},
                       {QStringLiteral("enableSpeakerDiarization"), false},
                       {QStringLiteral("speakerCount"), 0}};
    if (audioOffset)
        start.insert(QStringLiteral("audioOffset"), *audioOffset);
    m_socket.sendTextMessage(
        QString::fromUtf8(QJsonDocument(start).toJson(QJsonDocument::Compact)));
}

void StreamPeer::sendBinary(const QByteArray &pcm)
{
    m_socket.sendBinaryMessage(pcm);
}

void StreamPeer::sendBase64(const QByteArray &pcm)
{
    const QJsonObject audio {{QStringLiteral("type"), QStringLiteral("audio")},
                             {QStringLiteral("audioBase64"), QString::fromLatin1(pcm.toBase64())}};
    m_socket.sendTextMessage(
        QString::fromUtf8(QJsonDocument(audio).toJson(QJsonDocument::Compact)));
}

void StreamPeer::sendStop()
{
    m_socket.sendTextMessage(QStringLiteral("{\"type\":\"stop\"}"));
}

QList<QJsonObject> StreamPeer::events(const QString &type) const
{
    QList<QJsonObject> out;
    for (const QJsonObject &event : m_events) {
        if (event.value(QStringLiteral("type")).toString() == type)
            out.append(event);
    }
    return out;
}

bool StreamPeer::waitForEvent(const QString &type, int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (events(type).size() < count) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

bool StreamPeer::waitForClose(int timeoutMs)
{
    if (m_socket.state() == QAbstractSocket::UnconnectedState)
        return true;
    QSignalSpy disconnected(&m_socket, &QWebSocket::disconnected);
    return disconnected.wait(timeoutMs);
}

QList<QByteArray> speechChunks(int ms, qint16 amplitude)
{
    QList<QByteArray> chunks;
    for (int done = 0; done < ms; done += 100) {
        QByteArray chunk(3200, Qt::Uninitialized);
        for (int i = 0; i < 1600; ++i) {
            const qint16 sample = i % 2 ? amplitude : qint16(-amplitude);
            chunk[2 * i] = char(sample & 0xff);
            chunk[2 * i + 1] = char((sample >> 8) & 0xff);
        }
        chunks.append(chunk);
    }
    return chunks;
}

QByteArray wavSamples(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray wav = file.readAll();
    if (!wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE")
        return {};
    qsizetype at = 12;
    bool formatOk = false;
    while (at + 8 <= wav.size()) {
        const QByteArray id = wav.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(wav.constData() + at + 4);
        if (id == "fmt ") {
            const char *fmt = wav.constData() + at + 8;
            formatOk = qFromLittleEndian<quint16>(fmt) == 1 &&
                qFromLittleEndian<quint16>(fmt + 2) == 1 &&
                qFromLittleEndian<quint32>(fmt + 4) == 16000 &&
                qFromLittleEndian<quint16>(fmt + 14) == 16;
        } else if (id == "data") {
            return formatOk ? wav.mid(at + 8, size) : QByteArray();
        }
        at += 8 + size + (size % 2);
    }
    return {};
}

InProcessServer::InProcessServer(const QString &script, server::ServerOptions options)
    : InProcessServer(
          [script]() -> std::unique_ptr<server::RecognizerFactory> {
              QString error;
              const auto entries = server::parseRecognitionScript(script, &error);
              if (!entries)
                  return nullptr;
              return std::make_unique<server::ScriptRecognizerFactory>(*entries);
          },
          std::move(options))
{ }

InProcessServer::InProcessServer(
    std::function<std::unique_ptr<server::RecognizerFactory>()> recognizers,
    server::ServerOptions options)
    : m_recognizers(std::move(recognizers))
    , m_options(std::move(options))
{
    m_options.port = 0;
    m_options.dataDir = m_dir.path();
    m_options.passwordIterations = 1000;
}

InProcessServer::~InProcessServer()
{
    m_server.reset();
}

bool InProcessServer::start(QString *error)
{
    auto recognizers = m_recognizers();
    if (!recognizers) {
        *error = QStringLiteral("no recognizer");
        return false;
    }
    m_server =
        std::make_unique<server::ReferenceServer>(m_options, m_clock, std::move(recognizers));
    if (!m_server->start(error))
        return false;
    m_port = m_server->port();
    return true;
}

bool InProcessServer::restart(QString *error)
{
    m_server.reset();
    m_options.port = m_port;
    return start(error);
}

QUrl InProcessServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

} // namespace vernalo::test
