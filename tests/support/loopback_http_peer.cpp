#include "support/loopback_http_peer.h"

#include <algorithm>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QMetaEnum>
#include <QTcpSocket>

namespace vernalo::test {

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    const char *name = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(method));
    return name ? QByteArray(name).toUpper() : QByteArray("OTHER");
}

QString routeKey(const QByteArray &method, const QString &path)
{
    return QString::fromLatin1(method) + QLatin1Char(' ') + path;
}

} // namespace

QByteArray headerValue(const HeaderList &headers, const QByteArray &name)
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool RecordedRequest::hasHeader(const QByteArray &name) const
{
    return std::any_of(headers.begin(), headers.end(), [&name](const auto &entry) {
        return entry.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

LoopbackHttpPeer::LoopbackHttpPeer(QObject *parent)
    : QObject(parent)
    , m_server(std::make_unique<QHttpServer>())
{
    m_server->setMissingHandler(
        [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            handle({methodName(request.method()), request.url().path(),
                    request.url().path(QUrl::FullyEncoded).toLatin1(), request.query(),
                    request.headers(), request.body()},
                   std::move(responder));
        });
}

LoopbackHttpPeer::~LoopbackHttpPeer() = default;

bool LoopbackHttpPeer::start()
{
    m_port = m_server->listen(QHostAddress::LocalHost, 0);
    return m_port != 0;
}

void LoopbackHttpPeer::on(const QByteArray &method, const QString &path, ScriptedResponse response)
{
    m_standing.insert(routeKey(method, path), std::move(response));
}

void LoopbackHttpPeer::enqueue(const QByteArray &method, const QString &path,
                               ScriptedResponse response)
{
    m_queued[routeKey(method, path)].enqueue(std::move(response));
}

void LoopbackHttpPeer::setFallback(
    std::function<ScriptedResponse(const RecordedRequest &)> fallback)
{
    m_fallback = std::move(fallback);
}

QList<RecordedRequest> LoopbackHttpPeer::requestsTo(const QByteArray &method,
                                                    const QString &path) const
{
    QList<RecordedRequest> matching = m_requests;
    matching.removeIf(
        [&](const auto &request) { return request.method != method || request.path != path; });
    return matching;
}

void LoopbackHttpPeer::dropHeld()
{
    for (auto &responder : m_held) {
        if (QTcpSocket *socket = responder->socket())
            socket->abort();
    }
    m_held.clear();
}

void LoopbackHttpPeer::handle(const RecordedRequest &request, QHttpServerResponder &&responder)
{
    m_requests.append(request);
    Q_EMIT requestReceived(request);

    const QString key = routeKey(request.method, request.path);
    ScriptedResponse response = ScriptedResponse::json(404, R"({"error":"not found"})");
    if (QQueue<ScriptedResponse> &queued = m_queued[key]; !queued.isEmpty())
        response = queued.dequeue();
    else if (m_standing.contains(key))
        response = m_standing.value(key);
    else if (m_fallback)
        response = m_fallback(request);

    if (!response.raw.isEmpty()) {
        if (QTcpSocket *socket = responder.socket()) {
            socket->write(response.raw);
            socket->disconnectFromHost();
        }
        return;
    }
    if (response.neverAnswer) {
        m_held.push_back(std::make_unique<QHttpServerResponder>(std::move(responder)));
        return;
    }
    respond(responder, response);
}

bool LoopbackHttpPeer::answerHeld(const ScriptedResponse &response)
{
    if (m_held.empty())
        return false;
    std::unique_ptr<QHttpServerResponder> responder = std::move(m_held.front());
    m_held.erase(m_held.begin());
    respond(*responder, response);
    return true;
}

void LoopbackHttpPeer::respond(QHttpServerResponder &responder, const ScriptedResponse &response)
{
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(response.status));
    if (!response.contentType.isEmpty())
        responder.writeHeader("Content-Type", response.contentType);
    for (const auto &[name, value] : std::as_const(response.headers))
        responder.writeHeader(name, value);
    responder.writeHeader("Content-Length", QByteArray::number(response.body.size()));
    responder.writeBody(response.body);
}

} // namespace vernalo::test
