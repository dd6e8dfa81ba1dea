#pragma once

#include <optional>
#include <QString>
#include <utility>
#include <variant>

namespace vernalo {

struct HttpAnswer;

// The error of every auth call; its description is what the user sees.
class AuthRequestError
{
public:
    enum class Kind {
        Server, // carries the service's own text or one of our Finnish sentences
        InvalidURL, // the base URL cannot form an endpoint
        Offline, // the service could not be reached (no network, refused, time-out)
    };

    static AuthRequestError server(QString message) { return {Kind::Server, std::move(message)}; }
    static AuthRequestError invalidURL() { return {Kind::InvalidURL, {}}; }
    static AuthRequestError offline() { return {Kind::Offline, {}}; }

    Kind kind() const { return m_kind; }
    QString localizedDescription() const;

    bool operator==(const AuthRequestError &other) const = default;

private:
    AuthRequestError(Kind kind, QString message)
        : m_kind(kind)
        , m_message(std::move(message))
    { }

    Kind m_kind;
    QString m_message;
};

// Why an auth call failed. Either an AuthRequestError, whose text is shown as it is, or a
// failure without a user text (a reply that does not decode, a value that cannot be sent), for
// which each caller shows its own fallback sentence. `reason` is for the log only and never
// holds a secret; `httpStatus` is the reply's status when there was one.
struct AuthFailure
{
    std::optional<AuthRequestError> error;
    QString reason;
    int httpStatus = 0;

    static AuthFailure from(AuthRequestError error, int httpStatus = 0)
    {
        return AuthFailure {std::move(error), {}, httpStatus};
    }
    static AuthFailure withoutText(QString reason, int httpStatus = 0)
    {
        return AuthFailure {std::nullopt, std::move(reason), httpStatus};
    }
    // The failure of an exchange that brought no reply to read: a failure below HTTP means the
    // service was not reached (offline); a refused redirect or another protocol failure is
    // "Yhteys auth-palveluun epäonnistui"; an answer that is not HTTP or too large is
    // "Virheellinen vastaus auth-palvelulta"; a header that cannot be sent safely has no text.
    static AuthFailure fromExchange(const HttpAnswer &answer);

    bool isOffline() const { return error && error->kind() == AuthRequestError::Kind::Offline; }
    // The error's own text, or the caller's fallback when it has none.
    QString description(const QString &fallback) const
    {
        return error ? error->localizedDescription() : fallback;
    }
};

// A value or the failure that prevented it.
template<typename T = std::monostate> class AuthResult
{
public:
    // An outcome not yet known; callers that wait for one need it to exist first.
    AuthResult()
        : m_state(AuthFailure::withoutText(QStringLiteral("no outcome")))
    { }
    AuthResult(T value)
        : m_state(std::move(value))
    { }
    AuthResult(AuthFailure failure)
        : m_state(std::move(failure))
    { }
    AuthResult(AuthRequestError error)
        : m_state(AuthFailure::from(std::move(error)))
    { }

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return std::get<T>(m_state); }
    T &value() { return std::get<T>(m_state); }
    const AuthFailure &failure() const { return std::get<AuthFailure>(m_state); }

private:
    std::variant<T, AuthFailure> m_state;
};

} // namespace vernalo
