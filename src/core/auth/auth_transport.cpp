#include "auth/auth_transport.h"

#include "foundation/clock.h"

#include <coroutine>
#include <memory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScopeGuard>

namespace vernalo {

namespace {

// Waits for a reply to finish, and also wakes when the reply is destroyed unfinished (its
// network manager went away), so a waiting coroutine never stays suspended for ever.
class ReplyFinished
{
public:
    explicit ReplyFinished(QNetworkReply *reply)
        : m_reply(reply)
    { }

    bool await_ready() const { return !m_reply || m_reply->isFinished(); }
    void await_suspend(std::coroutine_handle<> handle)
    {
        auto resumed = std::make_shared<bool>(false);
        auto resume = [handle, resumed]() {
            if (*resumed)
                return;
            *resumed = true;
            handle.resume();
        };
        QObject::connect(m_reply, &QNetworkReply::finished, m_reply, resume, Qt::DirectConnection);
        QObject::connect(m_reply, &QObject::destroyed, resume);
    }
    void await_resume() const { }

private:
    QPointer<QNetworkReply> m_reply;
};

bool isSafeHeaderBytes(const QByteArray &bytes)
{
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7F)
            return false;
    }
    return true;
}

AuthHeaders mergedHeaders(const AuthHeaders &headers)
{
    AuthHeaders merged;
    for (const auto &[name, value] : headers) {
        bool replaced = false;
        for (auto &existing : merged) {
            if (existing.first.compare(name, Qt::CaseInsensitive) == 0) {
                existing.second = value;
                replaced = true;
            }
        }
        if (!replaced)
            merged.append({name, value});
    }
    return merged;
}

AuthFailure transportFailure(QNetworkReply::NetworkError error, bool timedOut)
{
    const QString reason = QStringLiteral("network error=%1").arg(static_cast<int>(error));
    // Connection, TLS, time-out and proxy failures mean the service was not reached.
    if (timedOut ||
        (error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)) {
        AuthFailure failure = AuthFailure::from(AuthRequestError::offline());
        failure.reason = timedOut ? QStringLiteral("timed out") : reason;
        return failure;
    }
    AuthFailure failure = AuthFailure::from(
        AuthRequestError::server(QStringLiteral("Yhteys auth-palveluun epäonnistui")));
    failure.reason = reason;
    return failure;
}

} // namespace

QCoro::Task<AuthResult<AuthHttpReply>> sendAuthRequest(QPointer<QNetworkAccessManager> network,
                                                       Clock *clock, AuthHttpRequest request)
{
    if (!network)
        co_return AuthFailure::from(AuthRequestError::offline());

    QNetworkRequest networkRequest(request.url);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                QNetworkRequest::SameOriginRedirectPolicy);
    for (const auto &[name, value] : mergedHeaders(request.headers)) {
        if (!isSafeHeaderBytes(name) || !isSafeHeaderBytes(value))
            co_return AuthFailure::withoutText(QStringLiteral("header with control characters"));
        networkRequest.setRawHeader(name, value);
    }

    QNetworkReply *reply = nullptr;
    if (request.method == "GET" && !request.body)
        reply = network->get(networkRequest);
    else if (request.method == "POST")
        reply = network->post(networkRequest, request.body.value_or(QByteArray()));
    else if (request.method == "DELETE" && !request.body)
        reply = network->deleteResource(networkRequest);
    else
        reply = network->sendCustomRequest(networkRequest, request.method,
                                           request.body.value_or(QByteArray()));
    if (!reply)
        co_return AuthFailure::from(AuthRequestError::offline());

    const QPointer<QNetworkReply> guard(reply);
    const auto cleanup = qScopeGuard([guard]() {
        if (guard)
            guard->deleteLater();
    });
    auto timedOut = std::make_shared<bool>(false);
    Timer *timer = clock->createTimer(reply);
    timer->setSingleShot(true);
    QObject::connect(timer, &Timer::timeout, reply, [reply, timedOut]() {
        *timedOut = true;
        reply->abort();
    });
    timer->start(kAuthRequestTimeout);
    // Auth replies are small; a reply that keeps growing is not one, and is not kept in memory.
    auto tooLarge = std::make_shared<bool>(false);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply, tooLarge](qint64 received, qint64 total) {
                         if (received > kMaxAuthReplyBytes || total > kMaxAuthReplyBytes) {
                             *tooLarge = true;
                             reply->abort();
                         }
                     });

    co_await ReplyFinished(reply);
    if (!guard) {
        // The network manager was destroyed under the request; nothing of it is left to read.
        co_return AuthFailure::from(AuthRequestError::offline());
    }
    timer->stop();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (*tooLarge) {
        AuthFailure failure = AuthFailure::from(
            AuthRequestError::server(QStringLiteral("Virheellinen vastaus auth-palvelulta")),
            status.toInt());
        failure.reason = QStringLiteral("reply too large");
        co_return failure;
    }
    if (status.isValid()) {
        AuthHttpReply answer;
        answer.status = status.toInt();
        answer.body = reply->readAll();
        answer.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        co_return answer;
    }
    if (reply->error() != QNetworkReply::NoError)
        co_return transportFailure(reply->error(), *timedOut);
    co_return AuthFailure::from(
        AuthRequestError::server(QStringLiteral("Virheellinen vastaus auth-palvelulta")));
}

} // namespace vernalo
