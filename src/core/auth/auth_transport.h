#pragma once

#include "auth/auth_request_error.h"

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

using AuthHeaders = QList<QPair<QByteArray, QByteArray>>;

struct AuthHttpRequest
{
    QUrl url;
    QByteArray method = "GET";
    // Sent in order; a later header replaces an earlier one of the same name (any case).
    AuthHeaders headers;
    std::optional<QByteArray> body;
};

struct AuthHttpReply
{
    int status = 0;
    QByteArray body;
    QByteArray contentType;

    bool isSuccess() const { return status >= 200 && status <= 299; }
};

// Every auth call gives up after this long and counts as unreachable.
inline constexpr std::chrono::seconds kAuthRequestTimeout {60};
// A reply body above this is refused unread.
inline constexpr qint64 kMaxAuthReplyBytes = 1024 * 1024;

// Sends one request and waits for its HTTP reply, whatever its status. Failures: the service
// not reachable, refused or timed out (offline); another transport fault (server, "Yhteys
// auth-palveluun epäonnistui"); an answer that is not HTTP or is too large (server,
// "Virheellinen vastaus auth-palvelulta"); a header that cannot be sent safely (a failure
// without text). Redirects are followed only within the same scheme, host and port, so the
// bearer token and the admin key never travel to another server.
QCoro::Task<AuthResult<AuthHttpReply>> sendAuthRequest(QPointer<QNetworkAccessManager> network,
                                                       Clock *clock, AuthHttpRequest request);

} // namespace vernalo
