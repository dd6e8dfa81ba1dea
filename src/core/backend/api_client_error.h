#pragma once

#include <exception>
#include <QByteArray>
#include <QString>

namespace vernalo {

enum class HttpFailure;

// The failure every backend operation throws. Its description is what reaches the status line,
// so every text is Finnish or the server's own "error" string.
class APIClientError : public std::exception
{
public:
    enum class Kind {
        invalidBaseURL, // the address could not be formed; nothing was sent
        invalidResponse, // not an HTTP answer, or a body that does not decode into its record
        serverError, // non-success status; carries the server's text or "Palvelinvirhe (N)"
        transport, // no answer: refused, unreachable, timed out, cut off
    };

    // Why a transport failure happened; lets callers tell a time-out from a refused connection.
    enum class Transport { none, timedOut, unreachable, connectionLost, secureChannel, other };

    static APIClientError invalidBaseURL();
    static APIClientError invalidResponse();
    // `httpStatus`: the answer's status when there was one (0: none).
    static APIClientError serverError(const QString &text, int httpStatus = 0);
    static APIClientError transport(Transport reason, int networkErrorCode = 0);
    // The error of an HTTP exchange that brought no usable answer: a failure below HTTP is a
    // transport error, anything else (a refused redirect, no HTTP status) an invalid response.
    static APIClientError fromExchange(HttpFailure failure, int networkErrorCode);

    Kind kind() const { return m_kind; }
    Transport transportReason() const { return m_transport; }
    // The platform's network error code for transport failures (0 otherwise).
    int networkErrorCode() const { return m_networkErrorCode; }
    int httpStatus() const { return m_httpStatus; }
    QString localizedDescription() const { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

    bool operator==(const APIClientError &other) const
    {
        return m_kind == other.m_kind && m_transport == other.m_transport &&
            m_description == other.m_description;
    }

private:
    APIClientError(Kind kind, QString description, Transport transport = Transport::none,
                   int networkErrorCode = 0);

    Kind m_kind;
    Transport m_transport;
    int m_networkErrorCode;
    int m_httpStatus = 0;
    QString m_description;
    QByteArray m_utf8;
};

} // namespace vernalo
