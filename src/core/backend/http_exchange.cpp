#include "backend/http_exchange.h"

#include "foundation/clock.h"

#include <memory>
#include <qcoro/qcoronetworkreply.h>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

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

// Aborting from inside one of the reply's own signals would resume the awaiting coroutine in the
// middle of that emission; a queued abort lets the emission finish first.
void abortLater(QNetworkReply *reply)
{
    QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
}

APIClientError::Transport transportReason(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
        return APIClientError::Transport::unreachable;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError:
        return APIClientError::Transport::connectionLost;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        return APIClientError::Transport::timedOut;
    case QNetworkReply::SslHandshakeFailedError:
        return APIClientError::Transport::secureChannel;
    default:
        return APIClientError::Transport::other;
    }
}

// Errors below 200 happen below HTTP (connection, proxy); the rest describe an HTTP status or
// a broken protocol exchange.
bool isTransportError(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

QNetworkReply *issue(QNetworkAccessManager *network, const QNetworkRequest &request,
                     const HttpRequest &http)
{
    if (http.method == "GET")
        return network->get(request);
    if (http.method == "DELETE")
        return network->deleteResource(request);
    if (http.method == "POST")
        return network->post(request, http.body.value_or(QByteArray()));
    return network->sendCustomRequest(request, http.method, http.body.value_or(QByteArray()));
}

} // namespace

QCoro::Task<HttpAnswer> sendHttpRequest(QNetworkAccessManager *network, Clock *clock,
                                        HttpRequest request, qint64 maxBodyBytes)
{
    QNetworkRequest networkRequest(request.url);
    for (const auto &[name, value] : std::as_const(request.headers))
        networkRequest.setRawHeader(name, value);
    if (request.sameOriginRedirectsOnly)
        networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                    QNetworkRequest::SameOriginRedirectPolicy);

    auto state = std::make_shared<ExchangeState>();
    state->maxBodyBytes = maxBodyBytes;

    QNetworkReply *raw = issue(network, networkRequest, request);
    QPointer<QNetworkReply> reply = raw;
    // Bounds what Qt buffers between two readyRead signals.
    raw->setReadBufferSize(1024 * 1024);

    std::unique_ptr<Timer> watchdog(clock->createTimer(nullptr));
    watchdog->setSingleShot(true);
    Timer *timer = watchdog.get();
    const auto timeout = request.timeout;
    const auto rearm = [timer, timeout] { timer->start(timeout); };

    QObject::connect(timer, &Timer::timeout, raw, [raw, state] {
        state->timedOut = true;
        abortLater(raw);
    });
    QObject::connect(raw, &QNetworkReply::uploadProgress, timer, rearm);
    QObject::connect(raw, &QNetworkReply::downloadProgress, timer, rearm);
    QObject::connect(raw, &QNetworkReply::metaDataChanged, timer, [reply = raw, state] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > state->maxBodyBytes && !state->tooLarge) {
            state->tooLarge = true;
            abortLater(reply);
        }
    });
    QObject::connect(raw, &QNetworkReply::readyRead, timer, [reply = raw, state, rearm] {
        rearm();
        if (state->tooLarge) {
            reply->skip(reply->bytesAvailable());
            return;
        }
        state->body += reply->readAll();
        if (state->body.size() > state->maxBodyBytes) {
            state->tooLarge = true;
            state->body.clear();
            abortLater(reply);
        }
    });
    rearm();

    co_await raw;

    HttpAnswer answer;
    if (!reply) {
        answer.transportError = APIClientError::transport(APIClientError::Transport::other);
        co_return answer;
    }
    reply->deleteLater();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    answer.status = status.isValid() ? status.toInt() : 0;

    if (state->tooLarge && status.isValid()) {
        answer.bodyTooLarge = true;
        co_return answer;
    }
    if (state->timedOut) {
        answer.transportError = APIClientError::transport(APIClientError::Transport::timedOut,
                                                          QNetworkReply::TimeoutError);
        co_return answer;
    }
    const auto error = reply->error();
    if (error == QNetworkReply::InsecureRedirectError ||
        error == QNetworkReply::TooManyRedirectsError) {
        answer.unusable = true;
        co_return answer;
    }
    if (isTransportError(error)) {
        answer.transportError = APIClientError::transport(transportReason(error), error);
        co_return answer;
    }
    if (!status.isValid()) {
        answer.unusable = true;
        co_return answer;
    }
    if (!state->tooLarge)
        state->body += reply->readAll();
    if (state->tooLarge || state->body.size() > maxBodyBytes) {
        answer.bodyTooLarge = true;
        co_return answer;
    }
    answer.body = std::move(state->body);
    co_return answer;
}

} // namespace vernalo
