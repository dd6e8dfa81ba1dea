#include "support/reference_backend.h"

#include "foundation/build_info.h"
#include "support/loopback_http_peer.h"
#include "support/socket_wait.h"

#include <csignal>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QtEndian>
#include <sys/prctl.h>

namespace vernalo::test {

namespace {

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

QByteArray sharedApiKey()
{
    return buildinfo::defaultSharedAPIKey().toUtf8();
}

QByteArray sessionRequest(const QString &language)
{
    return compact({{"language", language},
                    {"enableInterim", true},
                    {"sttModel", "chirp_3"},
                    {"enableSpeakerDiarization", false},
                    {"speakerCount", 0}});
}

QJsonObject HttpResult::json() const
{
    return QJsonDocument::fromJson(body).object();
}

QByteArray HttpResult::header(const QByteArray &name) const
{
    return headerValue(headers, name);
}

HttpCaller::HttpCaller(QUrl base)
    : m_base(std::move(base))
{ }

HttpResult HttpCaller::call(const QByteArray &method, const QString &pathAndQuery,
                            const QByteArray &body, const Headers &headers)
{
    QNetworkRequest request(m_base.resolved(QUrl(pathAndQuery)));
    request.setTransferTimeout(10000);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    if (!body.isEmpty() && !request.hasRawHeader("Content-Type"))
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, method, body));
    waitUntil([&reply] { return reply->isFinished(); }, 12000);
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
            reply->rawHeaderPairs()};
}

HttpResult HttpCaller::stt(const QByteArray &method, const QString &pathAndQuery,
                           const QByteArray &body, const QByteArray &authToken)
{
    Headers headers {{"x-api-key", sharedApiKey()}};
    if (const QByteArray token = authToken.isEmpty() ? m_token : authToken; !token.isEmpty())
        headers.append({"x-auth-token", token});
    return call(method, pathAndQuery, body, headers);
}

QByteArray HttpCaller::login(const QString &email, const QString &password)
{
    const HttpResult result =
        call("POST", "/auth/login", compact({{"email", email}, {"password", password}}));
    return result.json().value("token").toString().toUtf8();
}

std::optional<QStringList> HttpCaller::transcriptTexts(const QString &sessionId)
{
    const HttpResult result = stt("GET", "/v1/sessions/" + sessionId + "/transcript");
    QStringList texts;
    for (const QJsonValue &segment : result.json().value("segments").toArray())
        texts.append(segment.toObject().value("text").toString());
    return result.status == 200 ? std::optional(texts) : std::nullopt;
}

std::optional<qint64> HttpCaller::sessionCount(const QString &sessionId, const QString &field)
{
    const HttpResult result = stt("GET", "/v1/sessions/" + sessionId);
    if (result.status != 200 || !result.json().contains(field))
        return std::nullopt;
    return result.json().value(field).toInteger();
}

QByteArray HttpCaller::rawExchange(quint16 port, const QByteArray &request, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }, timeoutMs))
        return {};
    socket.write(request);
    QByteArray received;
    // Complete when the peer closed or the body its Content-Length announced is all here.
    const auto complete = [&] {
        received += socket.readAll();
        if (socket.state() != QAbstractSocket::ConnectedState)
            return true;
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        static const QRegularExpression length(QStringLiteral("content-length:\\s*(\\d+)"),
                                               QRegularExpression::CaseInsensitiveOption);
        const auto match = length.match(QString::fromLatin1(received.left(headEnd)));
        return headEnd >= 0 && match.hasMatch() &&
            received.size() >= headEnd + 4 + match.captured(1).toLongLong();
    };
    waitUntil(complete, timeoutMs);
    return received + socket.readAll();
}

StreamPeer::StreamPeer()
{
    connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
        m_events.append(QJsonDocument::fromJson(text.toUtf8()).object());
    });
}

bool StreamPeer::open(const QString &url)
{
    // A flag, not the state: a refusing server may close the socket in the same read.
    bool connected = false;
    const auto connection =
        connect(&m_socket, &QWebSocket::connected, this, [&connected] { connected = true; });
    m_socket.open(QUrl(url));
    waitUntil([&connected] { return connected; }, 5000);
    disconnect(connection);
    return connected;
}

void StreamPeer::sendStart(const QString &language, std::optional<qint64> audioOffset)
{
    QJsonObject start {{"type", "start"},       {"language", language},
                       {"sampleRate", 16000},   {"enableInterim", true},
                       {"sttModel", "chirp_3"}, {"enableSpeakerDiarization", false},
                       {"speakerCount", 0}};
    if (audioOffset)
        start.insert("audioOffset", *audioOffset);
    m_socket.sendTextMessage(QString::fromUtf8(compact(start)));
}

void StreamPeer::sendBase64(const QByteArray &pcm)
{
    m_socket.sendTextMessage(QString::fromUtf8(
        compact({{"type", "audio"}, {"audioBase64", QString::fromLatin1(pcm.toBase64())}})));
}

QList<QJsonObject> StreamPeer::events(const QString &type) const
{
    QList<QJsonObject> out = m_events;
    out.removeIf([&type](const QJsonObject &event) { return event.value("type") != type; });
    return out;
}

bool StreamPeer::waitForEvent(const QString &type, int count, int timeoutMs)
{
    return waitUntil([&] { return events(type).size() >= count; }, timeoutMs);
}

bool StreamPeer::waitForClose(int timeoutMs)
{
    return waitUntil([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; },
                     timeoutMs);
}

QList<QByteArray> speechChunks(int ms, qint16 amplitude)
{
    QByteArray chunk(3200, Qt::Uninitialized);
    for (int i = 0; i < 1600; ++i)
        qToLittleEndian<qint16>(i % 2 ? amplitude : qint16(-amplitude), chunk.data() + 2 * i);
    return QList<QByteArray>((ms + 99) / 100, chunk);
}

QByteArray wavSamples(const QString &path)
{
    QFile file(path);
    const QByteArray wav = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (!wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE")
        return {};
    bool formatOk = false;
    for (qsizetype at = 12; at + 8 <= wav.size();) {
        const QByteArray id = wav.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(wav.constData() + at + 4);
        const char *fmt = wav.constData() + at + 8;
        if (id == "fmt ")
            formatOk = qFromLittleEndian<quint16>(fmt) == 1 &&
                qFromLittleEndian<quint16>(fmt + 2) == 1 &&
                qFromLittleEndian<quint32>(fmt + 4) == 16000 &&
                qFromLittleEndian<quint16>(fmt + 14) == 16;
        else if (id == "data")
            return formatOk ? wav.mid(at + 8, size) : QByteArray();
        at += 8 + size + (size % 2);
    }
    return {};
}

ServerProcess::ServerProcess(QString binary, QStringList arguments)
    : m_binary(std::move(binary))
    , m_arguments(std::move(arguments))
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

ServerProcess::~ServerProcess()
{
    kill();
}

bool ServerProcess::start(QString *why, const QStringList &extra)
{
    static const QRegularExpression listening(
        QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)"));
    m_frozen = false;
    m_process.start(m_binary,
                    QStringList {"--port", QString::number(m_port)} + m_arguments + extra);
    QByteArray output;
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && isRunning()) {
        m_process.waitForReadyRead(200);
        output += m_process.readAll();
        if (const auto match = listening.match(QString::fromUtf8(output)); match.hasMatch()) {
            m_port = static_cast<quint16>(match.captured(1).toUInt());
            return true;
        }
    }
    if (why)
        *why = QString::fromUtf8(output + m_process.readAll());
    return false;
}

void ServerProcess::kill()
{
    if (!isRunning())
        return;
    freeze(false);
    m_process.kill();
    m_process.waitForFinished(5000);
}

int ServerProcess::terminate()
{
    freeze(false);
    m_process.terminate();
    m_process.waitForFinished(10000);
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

void ServerProcess::freeze(bool frozen)
{
    if (isRunning() && m_frozen != frozen) {
        ::kill(static_cast<pid_t>(m_process.processId()), frozen ? SIGSTOP : SIGCONT);
        m_frozen = frozen;
    }
}

QUrl ServerProcess::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

} // namespace vernalo::test
