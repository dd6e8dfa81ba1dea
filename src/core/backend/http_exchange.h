#pragma once

#include "backend/api_client_error.h"

#include <chrono>
#include <optional>
#include <QByteArray>
#include <qcoro/qcorotask.h>
#include <QList>
#include <QPair>
#include <QUrl>

class QNetworkAccessManager;

namespace vernalo {

class Clock;

// One HTTP request as the backend clients build it.
struct HttpRequest
{
    QByteArray method = "GET"; // GET, POST or DELETE
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers;
    std::optional<QByteArray> body; // POST sends an empty body when absent
    // Requests that carry credentials follow redirects only to the same scheme, host and port,
    // so a key is never handed to some other server.
    bool sameOriginRedirectsOnly = false;
    // Inactivity limit: the request fails when no byte moves either way for this long.
    std::chrono::milliseconds timeout {60000};
};

// What came back. Exactly one of these holds: a transport failure, a body that was larger than
// the cap (status known), an answer that is not usable HTTP (none, or a redirect that was not
// followed), or a status with its whole body.
struct HttpAnswer
{
    std::optional<APIClientError> transportError;
    bool unusable = false;
    bool bodyTooLarge = false;
    int status = 0;
    QByteArray body;
};

// Bodies above this are never held in memory; the answer is cut off and reported as too large.
inline constexpr qint64 kMaxResponseBodyBytes = 16 * 1024 * 1024;

// Sends one request and waits for the whole answer. The time-out runs on `clock`, restarted by
// every byte sent or received, so a long but moving transfer is never cut. Never throws.
QCoro::Task<HttpAnswer> sendHttpRequest(QNetworkAccessManager *network, Clock *clock,
                                        HttpRequest request,
                                        qint64 maxBodyBytes = kMaxResponseBodyBytes);

} // namespace vernalo
