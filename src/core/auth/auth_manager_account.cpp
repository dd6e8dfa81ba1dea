#include "auth/auth_manager.h"
#include "wire/wire_coding.h"

namespace vernalo {

namespace {

// The confirmation text of a password operation: "message", else "detail", else `fallback`.
// A reply that is not JSON may carry a plain-text message when `plainTextCounts`; an HTML page
// never does.
QString confirmationText(const HttpAnswer &reply, const QString &fallback, bool plainTextCounts)
{
    if (const auto object = wire::parseObject(reply.body)) {
        for (const char *key : {"message", "detail"}) {
            const QJsonValue value = object->value(QLatin1String(key));
            if (value.isString())
                return value.toString();
        }
        return fallback;
    }
    if (plainTextCounts && !AuthManager::looksLikeHtml(reply.body, reply.contentType)) {
        const QString text = QString::fromUtf8(reply.body).trimmed();
        if (!text.isEmpty())
            return text;
    }
    return fallback;
}

} // namespace

QCoro::Task<AuthResult<QString>> AuthManager::requestPasswordReset(QString email)
{
    QPointer<AuthManager> self(this);
    const QString normalizedEmail = email.trimmed().toLower();
    if (normalizedEmail.isEmpty())
        co_return AuthRequestError::server(QStringLiteral("Syötä sähköpostiosoite."));

    Call call;
    call.operation = QStringLiteral("passwordReset");
    call.path = QStringLiteral("/auth/request-password-reset");
    call.secondPath = QStringLiteral("/auth/forgot-password");
    call.method = "POST";
    call.headers = {{"Content-Type", "application/json"}};
    call.body = wire::compact(AuthPasswordResetRequest {normalizedEmail}.toJson());
    call.fallback = QStringLiteral("Salasanan palautus epäonnistui.");
    call.notAvailableText = QStringLiteral("Salasanan palautus ei ole käytössä auth-palvelussa.");
    const AuthResult<HttpAnswer> reply = co_await runCall(call);
    if (!self)
        co_return AuthFailure::withoutText(QStringLiteral("manager gone"));
    if (!reply)
        co_return reply.failure();
    const QString text = redactSecrets(
        confirmationText(reply.value(), QStringLiteral("Palautusohje lähetetty."), true));
    co_return text;
}

QCoro::Task<AuthResult<QString>> AuthManager::changePassword(QString currentPassword,
                                                             QString newPassword)
{
    QPointer<AuthManager> self(this);
    const QString current = currentPassword.trimmed();
    const QString replacement = newPassword.trimmed();
    if (current.isEmpty() || replacement.isEmpty())
        co_return AuthRequestError::server(QStringLiteral("Syötä nykyinen ja uusi salasana."));
    // Only a token verified in this run will do; after an offline start there is none.
    if (!m_sessionToken || m_sessionToken->isEmpty())
        co_return AuthRequestError::server(QStringLiteral("Sessio puuttuu. Kirjaudu uudelleen."));

    Call call;
    call.operation = QStringLiteral("changePassword");
    call.path = QStringLiteral("/auth/change-password");
    call.secondPath = QStringLiteral("/auth/change_password");
    call.method = "POST";
    call.headers = {{"Content-Type", "application/json"},
                    {"Authorization", "Bearer " + m_sessionToken->toUtf8()}};
    call.body = wire::compact(AuthChangePasswordRequest {current, replacement}.toJson());
    call.fallback = QStringLiteral("Salasanan vaihto epäonnistui.");
    call.notAvailableText = QStringLiteral("Salasanan vaihto ei ole käytössä auth-palvelussa.");
    call.secrets = {current, replacement};
    const AuthResult<HttpAnswer> reply = co_await runCall(call);
    if (!self)
        co_return AuthFailure::withoutText(QStringLiteral("manager gone"));
    if (!reply)
        co_return reply.failure();
    const QString text = redactSecrets(
        confirmationText(reply.value(), QStringLiteral("Salasana päivitetty."), false),
        call.secrets);
    co_return text;
}

} // namespace vernalo
