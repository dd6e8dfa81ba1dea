#pragma once

#include <chrono>
#include <optional>
#include <QByteArray>
#include <qcoro/qcorotask.h>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;

namespace vernalo {

class Clock;

// Sent in order; a later header replaces an earlier one of the same name (any case).
using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

// Bodies above this are never held in memory; the answer is cut off and reported as too large.
inline constexpr qint64 kMaxResponseBodyBytes = 16 * 1024 * 1024;

// One HTTP request as the REST client and the auth service build it.
struct HttpRequest
{
    // How the time-out counts: from the last byte that moved either way (a long but moving
    // transfer is never cut), or from the start of the request.
    enum class TimeLimit { inactivity, total };

    QByteArray method = "GET"; // GET, POST or DELETE
    QUrl url;
    HttpHeaders headers;
    std::optional<QByteArray> body; // POST sends an empty body when absent
    // Requests that carry credentials follow redirects only to the same scheme, host and port,
    // so a key or token is never handed to some other server.
    bool sameOriginRedirectsOnly = false;
    TimeLimit timeLimit = TimeLimit::inactivity;
    std::chrono::milliseconds timeout {60000};
    qint64 maxBodyBytes = kMaxResponseBodyBytes;
};

// Why an exchange brought no usable answer. The one classification of network failures that
// every client maps to its own error (APIClientError, AuthFailure).
enum class HttpFailure {
    none, // an HTTP answer with its whole body
    unsafeHeader, // a header name or value with a control character; nothing was sent
    timedOut, // the time limit ran out
    unreachable, // refused, host not found, no network, proxy not reachable
    connectionLost, // the peer closed the connection before the answer was complete
    secureChannel, // the TLS handshake failed
    transport, // another failure below HTTP, or the network manager went away (code 0)
    redirectRefused, // a redirect to another origin under the same-origin rule, or too many
    protocol, // a failure above the transport that left no HTTP status
    notHttp, // the exchange ended without an error but without an HTTP status either
    bodyTooLarge, // the body was larger than the cap; it was not kept
};

// What came back. `status` is set whenever a status line arrived (also when the exchange broke
// off after it); `body` then holds what arrived, unless it was too large.
struct HttpAnswer
{
    HttpFailure failure = HttpFailure::none;
    // The platform's network error code behind a failure below HTTP (0 when there was none).
    int networkError = 0;
    int status = 0; // 0: no status line arrived
    QByteArray body;
    QByteArray contentType;

    bool hasStatus() const { return status > 0; }
    bool isSuccess() const { return status >= 200 && status <= 299; }
};

// Whether the bytes can be sent in a header without smuggling another one: no control
// characters except the horizontal tab.
bool isSafeHeaderBytes(const QByteArray &bytes);

// Sends one request and waits for the whole answer, timed on `clock`. Never throws. A network
// manager that is gone, or goes away while the request runs, ends the exchange as a transport
// failure instead of leaving it waiting.
QCoro::Task<HttpAnswer> sendHttpRequest(QPointer<QNetworkAccessManager> network, Clock *clock,
                                        HttpRequest request);

} // namespace vernalo
