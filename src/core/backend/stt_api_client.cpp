#include "backend/stt_api_client.h"

#include "foundation/text.h"
#include "wire/wire_coding.h"

#include <algorithm>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>

namespace vernalo {

namespace {

const QByteArray kJsonContentType = QByteArrayLiteral("application/json");

bool isWebAddress(const QUrl &url)
{
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
        !url.host().isEmpty();
}

void addHeaderIfPresent(HttpRequest &request, const QByteArray &name, const QString &raw)
{
    // A value that could smuggle a second header onto the wire is not sent at all.
    const QByteArray value = trimmedInput(raw).toUtf8();
    if (!value.isEmpty() && isSafeHeaderBytes(value))
        request.headers.append({name, value});
}

// The answer check every operation but stop applies before decoding anything.
QByteArray successBody(const HttpAnswer &answer)
{
    if (answer.failure == HttpFailure::bodyTooLarge) {
        if (answer.isSuccess())
            throw APIClientError::invalidResponse();
        throw APIClientError::serverError(QStringLiteral("Palvelinvirhe (%1)").arg(answer.status),
                                          answer.status);
    }
    if (answer.failure != HttpFailure::none)
        throw APIClientError::fromExchange(answer.failure, answer.networkError);
    if (answer.isSuccess())
        return answer.body;
    if (const auto object = wire::parseObject(answer.body)) {
        const QJsonValue error = object->value(QStringLiteral("error"));
        if (error.isString())
            throw APIClientError::serverError(error.toString(), answer.status);
    }
    throw APIClientError::serverError(QStringLiteral("Palvelinvirhe (%1)").arg(answer.status),
                                      answer.status);
}

// A body that does not decode is the server's fault; the decoder's English reason stays out of
// the Finnish status line.
template<typename Record> Record decodeOrThrow(const QByteArray &body)
{
    auto record = wire::decode<Record>(body);
    if (!record)
        throw APIClientError::invalidResponse();
    return std::move(*record);
}

} // namespace

STTAPIClient::STTAPIClient(QNetworkAccessManager *network, Clock *clock)
    : m_network(network)
    , m_clock(clock)
{ }

QUrl STTAPIClient::endpointURL(const QString &encodedPath, const QString &baseURL)
{
    const QUrl base(trimmedInput(baseURL), QUrl::StrictMode);
    if (!isWebAddress(base))
        throw APIClientError::invalidBaseURL();
    QUrl url;
    url.setScheme(base.scheme());
    url.setHost(base.host());
    url.setPort(base.port());
    url.setPath(encodedPath, QUrl::TolerantMode);
    if (!url.isValid())
        throw APIClientError::invalidBaseURL();
    return url;
}

QString STTAPIClient::sessionPath(const QString &sessionId, const QString &suffix)
{
    // QUrl turns "%2E" back into ".", so a dot segment cannot be protected by escaping.
    if (sessionId.isEmpty() || sessionId == u"." || sessionId == u"..")
        throw APIClientError::invalidBaseURL();
    return QStringLiteral("/v1/sessions/") +
        QString::fromLatin1(QUrl::toPercentEncoding(sessionId)) + suffix;
}

HttpRequest STTAPIClient::authorizedRequest(const STTConfiguration &config, QByteArray method,
                                            const QString &encodedPath) const
{
    HttpRequest request;
    request.method = std::move(method);
    request.url = endpointURL(encodedPath, config.baseURL);
    request.sameOriginRedirectsOnly = true;
    addHeaderIfPresent(request, "x-api-key", config.apiKey);
    if (config.authToken)
        addHeaderIfPresent(request, "x-auth-token", *config.authToken);
    return request;
}

QCoro::Task<QByteArray> STTAPIClient::exchange(HttpRequest request)
{
    const HttpAnswer answer = co_await sendHttpRequest(m_network, m_clock, std::move(request));
    co_return successBody(answer);
}

QCoro::Task<STTSessionCreateResponse> STTAPIClient::createSession(STTConfiguration config,
                                                                  STTSessionCreateRequest request)
{
    HttpRequest http = authorizedRequest(config, "POST", QStringLiteral("/v1/sessions"));
    http.headers.prepend({"Content-Type", kJsonContentType});
    http.body = wire::compact(request.toJson());
    const QByteArray body = co_await exchange(std::move(http));
    co_return decodeOrThrow<STTSessionCreateResponse>(body);
}

QCoro::Task<> STTAPIClient::stopSession(STTConfiguration config, QString sessionId)
{
    HttpRequest http;
    try {
        http = authorizedRequest(config, "POST", sessionPath(sessionId, QStringLiteral("/stop")));
    } catch (const APIClientError &) {
        co_return;
    }
    // Whatever comes back (or nothing) is ignored.
    co_await sendHttpRequest(m_network, m_clock, std::move(http));
}

QCoro::Task<SummaryPayload>
STTAPIClient::generateSummary(STTConfiguration config, QString sessionId,
                              QList<SummaryGenerateRequest::Segment> fallbackTranscriptSegments)
{
    HttpRequest http =
        authorizedRequest(config, "POST", sessionPath(sessionId, QStringLiteral("/summary")));
    http.headers.prepend({"Content-Type", kJsonContentType});
    http.timeout = kSummaryTimeout;
    if (!fallbackTranscriptSegments.isEmpty()) {
        SummaryGenerateRequest request;
        request.transcriptSegments = std::move(fallbackTranscriptSegments);
        http.body = wire::compact(request.toJson());
    }
    const QByteArray body = co_await exchange(std::move(http));
    co_return decodeOrThrow<SummaryPayload>(body);
}

QCoro::Task<QByteArray> STTAPIClient::downloadSummaryDocx(STTConfiguration config,
                                                          QString sessionId)
{
    HttpRequest http =
        authorizedRequest(config, "GET", sessionPath(sessionId, QStringLiteral("/summary/docx")));
    co_return co_await exchange(std::move(http));
}

QCoro::Task<ServerTranscriptResponse> STTAPIClient::getTranscript(STTConfiguration config,
                                                                  QString sessionId)
{
    HttpRequest http =
        authorizedRequest(config, "GET", sessionPath(sessionId, QStringLiteral("/transcript")));
    const QByteArray body = co_await exchange(std::move(http));
    co_return decodeOrThrow<ServerTranscriptResponse>(body);
}

QCoro::Task<SessionMetaResponse> STTAPIClient::getSessionMeta(STTConfiguration config,
                                                              QString sessionId)
{
    HttpRequest http = authorizedRequest(config, "GET", sessionPath(sessionId));
    const QByteArray body = co_await exchange(std::move(http));
    co_return decodeOrThrow<SessionMetaResponse>(body);
}

QCoro::Task<QList<SessionMetaResponse>>
STTAPIClient::listSessions(STTConfiguration config, std::optional<QString> status, int limit)
{
    HttpRequest http = authorizedRequest(config, "GET", QStringLiteral("/v1/sessions"));
    QString query = QStringLiteral("limit=%1").arg(std::clamp(limit, 1, 100));
    if (status && !isBlank(*status))
        query += QStringLiteral("&status=") + QString::fromLatin1(QUrl::toPercentEncoding(*status));
    http.url.setQuery(query, QUrl::TolerantMode);
    const QByteArray body = co_await exchange(std::move(http));
    co_return decodeOrThrow<SessionListResponse>(body).items;
}

QCoro::Task<> STTAPIClient::deleteSession(STTConfiguration config, QString sessionId)
{
    HttpRequest http = authorizedRequest(config, "DELETE", sessionPath(sessionId));
    co_await exchange(std::move(http));
}

QCoro::Task<HealthResponse> STTAPIClient::health(STTConfiguration config)
{
    HttpRequest http;
    http.url = endpointURL(QStringLiteral("/health"), config.baseURL);
    const QByteArray body = co_await exchange(std::move(http));
    co_return decodeOrThrow<HealthResponse>(body);
}

QCoro::Task<AppUpdateManifest> STTAPIClient::fetchUpdateManifest(QString urlString)
{
    const QUrl url(urlString, QUrl::StrictMode);
    if (!isWebAddress(url))
        throw APIClientError::serverError(QStringLiteral("Virheellinen päivitysfeed URL"));
    HttpRequest http;
    http.url = url;
    const QByteArray body = co_await exchange(std::move(http));
    co_return decodeOrThrow<AppUpdateManifest>(body);
}

} // namespace vernalo
