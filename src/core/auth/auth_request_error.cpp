#include "auth/auth_request_error.h"

#include "backend/http_exchange.h"

namespace vernalo {

QString AuthRequestError::localizedDescription() const
{
    switch (m_kind) {
    case Kind::Server:
        return m_message;
    case Kind::InvalidURL:
        return QStringLiteral("Virheellinen auth-osoite");
    case Kind::Offline:
        return QStringLiteral("Yhteys auth-palveluun epäonnistui");
    }
    return m_message;
}

AuthFailure AuthFailure::fromExchange(const HttpAnswer &answer)
{
    const QString invalidReply = QStringLiteral("Virheellinen vastaus auth-palvelulta");
    const QString networkReason = answer.networkError
        ? QStringLiteral("network error=%1").arg(answer.networkError)
        : QStringLiteral("network gone");
    AuthFailure failure;
    switch (answer.failure) {
    case HttpFailure::unsafeHeader:
        return withoutText(QStringLiteral("header with control characters"));
    case HttpFailure::bodyTooLarge:
        failure = from(AuthRequestError::server(invalidReply), answer.status);
        failure.reason = QStringLiteral("reply too large");
        return failure;
    case HttpFailure::timedOut:
        failure = from(AuthRequestError::offline());
        failure.reason = QStringLiteral("timed out");
        return failure;
    case HttpFailure::unreachable:
    case HttpFailure::connectionLost:
    case HttpFailure::secureChannel:
    case HttpFailure::transport:
        failure = from(AuthRequestError::offline());
        failure.reason = networkReason;
        return failure;
    case HttpFailure::redirectRefused:
    case HttpFailure::protocol:
        // The sentence of offline, but something did answer: no offline grace.
        failure =
            from(AuthRequestError::server(QStringLiteral("Yhteys auth-palveluun epäonnistui")));
        failure.reason = networkReason;
        return failure;
    case HttpFailure::none:
    case HttpFailure::notHttp:
        break;
    }
    return from(AuthRequestError::server(invalidReply));
}

} // namespace vernalo
