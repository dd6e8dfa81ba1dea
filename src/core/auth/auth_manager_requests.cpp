#include "auth/auth_manager.h"
#include "foundation/app_log.h"

#include <QJsonDocument>
#include <QStringDecoder>
#include <QUrl>

namespace vernalo {

namespace {

constexpr auto kContextHeader = "X-VN-App-Context";
// Kept as written: the service tells its clients apart by this value.
constexpr auto kContextValue = "vernalo-mac";
// Every auth call gives up after this long and counts as unreachable.
constexpr std::chrono::seconds kRequestTimeout {60};
// Auth replies are small; a reply above this is refused unread.
constexpr qint64 kMaxReplyBytes = 1024 * 1024;

// The first of the keys that holds a string; mistyped values are passed over.
std::optional<QString> firstText(const QJsonObject &object,
                                 std::initializer_list<const char *> keys)
{
    for (const char *key : keys) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isString())
            return value.toString();
    }
    return std::nullopt;
}

std::optional<QString> strictUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

std::optional<QString> AuthManager::normalizeAuthURL(const QString &text)
{
    QString candidate = text.trimmed();
    while (candidate.endsWith(QLatin1Char('/')))
        candidate.chop(1);
    if (candidate.isEmpty())
        return std::nullopt;
    const QUrl url(candidate, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    // Only a web address can be the service; "auth.example.com" without a scheme would
    // otherwise be taken and fail at every call.
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return std::nullopt;
    return candidate;
}

AuthResult<QUrl> AuthManager::authEndpoint(const QString &path, const QString &baseURL)
{
    QUrl url(baseURL, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return AuthRequestError::invalidURL();
    url.setPath(path);
    url.setFragment(QString());
    if (!url.isValid())
        return AuthRequestError::invalidURL();
    return url;
}

bool AuthManager::looksLikeHtml(const QByteArray &body, const QByteArray &contentType)
{
    if (contentType.toLower().contains("html"))
        return true;
    const QByteArray start = body.trimmed().left(512).toLower();
    if (!start.startsWith('<'))
        return false;
    for (const char *marker : {"<!doctype html", "<html", "<head", "<body", "<title"}) {
        if (start.contains(marker))
            return true;
    }
    return false;
}

std::optional<QString> AuthManager::parseServerError(const QByteArray &body, int status,
                                                     const QByteArray &contentType)
{
    if (body.isEmpty())
        return std::nullopt;
    std::optional<QString> text;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error == QJsonParseError::NoError) {
        // A JSON reply is never shown raw: its text fields or nothing.
        if (document.isObject()) {
            const QJsonObject object = document.object();
            if (const auto strict = AuthErrorResponse::fromJson(object)) {
                text = strict->detail ? strict->detail
                    : strict->error   ? strict->error
                                      : strict->message;
            } else {
                text = firstText(object, {"detail", "error", "message"});
            }
        }
    } else if (const QByteArray start = body.trimmed();
               start.startsWith('{') || start.startsWith('[')) {
        // A cut-off or broken JSON reply is noise, not a message.
        text = std::nullopt;
    } else if (looksLikeHtml(body, contentType)) {
        // A proxy's error page says nothing the user can act on; its status does.
        text = QStringLiteral("Palvelinvirhe (%1)").arg(status);
    } else {
        text = strictUtf8(body);
    }
    // A blank text would show an empty error line for a failure.
    if (!text || text->trimmed().isEmpty())
        return std::nullopt;
    return text->trimmed();
}

QCoro::Task<AuthResult<HttpAnswer>> AuthManager::performRequest(QString path, QByteArray method,
                                                                HttpHeaders headers,
                                                                std::optional<QByteArray> body)
{
    return sendTo(m_authURL, std::move(path), std::move(method), std::move(headers),
                  std::move(body));
}

QCoro::Task<AuthResult<HttpAnswer>> AuthManager::sendTo(QString baseURL, QString path,
                                                        QByteArray method, HttpHeaders headers,
                                                        std::optional<QByteArray> body)
{
    const AuthResult<QUrl> endpoint = authEndpoint(path, baseURL);
    if (!endpoint)
        co_return endpoint.failure();
    HttpRequest request;
    request.url = endpoint.value();
    request.method = method;
    request.headers.append(qMakePair(QByteArray(kContextHeader), QByteArray(kContextValue)));
    request.headers.append(headers);
    request.body = body;
    // The bearer token and the admin key never travel to another server.
    request.sameOriginRedirectsOnly = true;
    request.timeLimit = HttpRequest::TimeLimit::total;
    request.timeout = kRequestTimeout;
    request.maxBodyBytes = kMaxReplyBytes;
    // Only locals are touched after this point, so the manager may be gone when it resumes.
    const HttpAnswer answer = co_await sendHttpRequest(m_network, m_clock, std::move(request));
    // An answer with a status is the service's reply whatever the status, also one cut off after
    // its status line (its body then does not decode).
    if (answer.hasStatus() && answer.failure != HttpFailure::bodyTooLarge)
        co_return answer;
    co_return AuthFailure::fromExchange(answer);
}

AuthFailure AuthManager::failureFromReply(const HttpAnswer &reply, const QString &fallback,
                                          const QStringList &secrets) const
{
    const std::optional<QString> text =
        parseServerError(reply.body, reply.status, reply.contentType);
    const QString message = text ? redactSecrets(*text, secrets) : fallback;
    return AuthFailure::from(AuthRequestError::server(message), reply.status);
}

QCoro::Task<AuthResult<HttpAnswer>> AuthManager::runCall(Call call)
{
    QPointer<AuthManager> self(this);
    AuthResult<HttpAnswer> sent =
        co_await performRequest(call.path, call.method, call.headers, call.body);
    if (!self)
        co_return AuthFailure::withoutText(QStringLiteral("manager gone"));
    if (sent && sent.value().status == 404 && !call.secondPath.isEmpty()) {
        // An older generation of the service has this operation under another path.
        sent = co_await performRequest(call.secondPath, call.method, call.headers, call.body);
        if (!self)
            co_return AuthFailure::withoutText(QStringLiteral("manager gone"));
        if (sent && sent.value().status == 404) {
            AppLog::write(
                QStringLiteral("auth request op=%1 status=404 unavailable").arg(call.operation));
            co_return AuthFailure::from(AuthRequestError::server(call.notAvailableText), 404);
        }
    }
    if (!sent) {
        const AuthFailure &failure = sent.failure();
        AppLog::write(
            QStringLiteral("auth request op=%1 failed offline=%2 reason=%3")
                .arg(call.operation,
                     failure.isOffline() ? QStringLiteral("true") : QStringLiteral("false"),
                     failure.reason));
        co_return failure;
    }
    const HttpAnswer &reply = sent.value();
    AppLog::write(
        QStringLiteral("auth request op=%1 status=%2").arg(call.operation).arg(reply.status));
    if (!reply.isSuccess())
        co_return failureFromReply(reply, call.fallback, call.secrets);
    co_return reply;
}

} // namespace vernalo
