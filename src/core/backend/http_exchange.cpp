#include "backend/http_exchange.h"

#include "wire/clock.h"

#include <coroutine>
#include <memory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace vernalo {

namespace {

// Shared by the reply's handlers and the awaiting coroutine.
struct ExchangeState
{
    QByteArray body;
    qint64 maxBodyBytes = 0;
    bool tooLarge = false;
    bool timedOut = false;
};

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

// Aborting from inside one of the reply's or the watchdog's own signals would resume the awaiting
// coroutine in the middle of that emission; a queued abort lets the emission finish first.
void abortLater(QNetworkReply *reply)
{
    QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
}

// Errors below 200 happen below HTTP (connection, proxy, TLS); the rest describe an HTTP status
// or a broken protocol exchange.
bool isBelowHttp(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

HttpFailure failureBelowHttp(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
        return HttpFailure::unreachable;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError:
        return HttpFailure::connectionLost;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        return HttpFailure::timedOut;
    case QNetworkReply::SslHandshakeFailedError:
        return HttpFailure::secureChannel;
    default:
        return HttpFailure::transport;
    }
}

HttpHeaders mergedHeaders(const HttpHeaders &headers)
{
    HttpHeaders merged;
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

QNetworkReply *issue(QNetworkAccessManager *network, const QNetworkRequest &request,
                     const HttpRequest &http)
{
    if (http.method == "GET" && !http.body)
        return network->get(request);
    if (http.method == "DELETE" && !http.body)
        return network->deleteResource(request);
    if (http.method == "POST")
        return network->post(request, http.body.value_or(QByteArray()));
    return network->sendCustomRequest(request, http.method, http.body.value_or(QByteArray()));
}

HttpAnswer failed(HttpFailure failure)
{
    HttpAnswer answer;
    answer.failure = failure;
    return answer;
}

} // namespace

bool isSafeHeaderBytes(const QByteArray &bytes)
{
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7F)
            return false;
    }
    return true;
}

QCoro::Task<HttpAnswer> sendHttpRequest(QPointer<QNetworkAccessManager> network, Clock *clock,
                                        HttpRequest request)
{
    QNetworkRequest networkRequest(request.url);
    for (const auto &[name, value] : mergedHeaders(request.headers)) {
        if (!isSafeHeaderBytes(name) || !isSafeHeaderBytes(value))
            co_return failed(HttpFailure::unsafeHeader);
        networkRequest.setRawHeader(name, value);
    }
    if (request.sameOriginRedirectsOnly)
        networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                    QNetworkRequest::SameOriginRedirectPolicy);
    if (!network)
        co_return failed(HttpFailure::transport);

    auto state = std::make_shared<ExchangeState>();
    state->maxBodyBytes = request.maxBodyBytes;

    QNetworkReply *raw = issue(network, networkRequest, request);
    if (!raw)
        co_return failed(HttpFailure::transport);
    QPointer<QNetworkReply> reply = raw;
    // Bounds what Qt buffers between two readyRead signals.
    raw->setReadBufferSize(1024 * 1024);

    std::unique_ptr<Timer> watchdog(clock->createTimer(nullptr));
    watchdog->setSingleShot(true);
    Timer *timer = watchdog.get();
    const auto timeout = request.timeout;
    const bool restartOnProgress = request.timeLimit == HttpRequest::TimeLimit::inactivity;
    const auto progress = [timer, timeout, restartOnProgress] {
        if (restartOnProgress)
            timer->start(timeout);
    };

    QObject::connect(timer, &Timer::timeout, raw, [raw, state] {
        state->timedOut = true;
        abortLater(raw);
    });
    QObject::connect(raw, &QNetworkReply::uploadProgress, timer, progress);
    QObject::connect(raw, &QNetworkReply::downloadProgress, timer, progress);
    QObject::connect(raw, &QNetworkReply::metaDataChanged, timer, [raw, state] {
        const QVariant length = raw->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > state->maxBodyBytes && !state->tooLarge) {
            state->tooLarge = true;
            abortLater(raw);
        }
    });
    QObject::connect(raw, &QNetworkReply::readyRead, timer, [raw, state, progress] {
        progress();
        if (state->tooLarge) {
            raw->skip(raw->bytesAvailable());
            return;
        }
        state->body += raw->readAll();
        if (state->body.size() > state->maxBodyBytes) {
            state->tooLarge = true;
            state->body.clear();
            abortLater(raw);
        }
    });
    timer->start(timeout);

    co_await ReplyFinished(raw);
    if (!reply) {
        // The network manager was destroyed under the request; nothing of it is left to read.
        co_return failed(HttpFailure::transport);
    }
    timer->stop();
    reply->deleteLater();

    HttpAnswer answer;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    answer.status = status.isValid() ? status.toInt() : 0;
    answer.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    if (!state->tooLarge) {
        state->body += reply->readAll();
        state->tooLarge = state->body.size() > request.maxBodyBytes;
    }
    if (state->tooLarge) {
        answer.failure = HttpFailure::bodyTooLarge;
        co_return answer;
    }
    answer.body = std::move(state->body);

    const QNetworkReply::NetworkError error = reply->error();
    if (state->timedOut) {
        answer.failure = HttpFailure::timedOut;
        answer.networkError = QNetworkReply::TimeoutError;
    } else if (error == QNetworkReply::InsecureRedirectError ||
               error == QNetworkReply::TooManyRedirectsError) {
        answer.failure = HttpFailure::redirectRefused;
        answer.networkError = error;
    } else if (isBelowHttp(error)) {
        answer.failure = failureBelowHttp(error);
        answer.networkError = error;
    } else if (!answer.hasStatus()) {
        answer.failure =
            error == QNetworkReply::NoError ? HttpFailure::notHttp : HttpFailure::protocol;
        answer.networkError = error;
    }
    co_return answer;
}

} // namespace vernalo
