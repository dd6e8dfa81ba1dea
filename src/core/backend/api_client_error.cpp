#include "backend/api_client_error.h"

#include "backend/http_exchange.h"

namespace vernalo {

APIClientError::APIClientError(Kind kind, QString description, Transport transport,
                               int networkErrorCode)
    : m_kind(kind)
    , m_transport(transport)
    , m_networkErrorCode(networkErrorCode)
    , m_description(std::move(description))
    , m_utf8(m_description.toUtf8())
{ }

APIClientError APIClientError::invalidBaseURL()
{
    return {Kind::invalidBaseURL, QStringLiteral("Virheellinen backend-osoite")};
}

APIClientError APIClientError::invalidResponse()
{
    return {Kind::invalidResponse, QStringLiteral("Virheellinen palvelinvaste")};
}

APIClientError APIClientError::serverError(const QString &text, int httpStatus)
{
    APIClientError error {Kind::serverError, text};
    error.m_httpStatus = httpStatus;
    return error;
}

APIClientError APIClientError::transport(Transport reason, int networkErrorCode)
{
    // The platform's own error strings are English; the status line needs Finnish.
    QString text;
    switch (reason) {
    case Transport::timedOut:
        text = QStringLiteral("Palvelin ei vastannut ajoissa");
        break;
    case Transport::unreachable:
        text = QStringLiteral("Palvelimeen ei saatu yhteyttä");
        break;
    case Transport::connectionLost:
        text = QStringLiteral("Yhteys palvelimeen katkesi");
        break;
    case Transport::secureChannel:
        text = QStringLiteral("Suojattu yhteys palvelimeen epäonnistui");
        break;
    case Transport::none:
    case Transport::other:
        text = QStringLiteral("Verkkovirhe (%1)").arg(networkErrorCode);
        break;
    }
    return {Kind::transport, text, reason, networkErrorCode};
}

APIClientError APIClientError::fromExchange(HttpFailure failure, int networkErrorCode)
{
    switch (failure) {
    case HttpFailure::timedOut:
        return transport(Transport::timedOut, networkErrorCode);
    case HttpFailure::unreachable:
        return transport(Transport::unreachable, networkErrorCode);
    case HttpFailure::connectionLost:
        return transport(Transport::connectionLost, networkErrorCode);
    case HttpFailure::secureChannel:
        return transport(Transport::secureChannel, networkErrorCode);
    case HttpFailure::transport:
        return transport(Transport::other, networkErrorCode);
    case HttpFailure::none:
    case HttpFailure::unsafeHeader:
    case HttpFailure::redirectRefused:
    case HttpFailure::protocol:
    case HttpFailure::notHttp:
    case HttpFailure::bodyTooLarge:
        break;
    }
    return invalidResponse();
}

} // namespace vernalo
