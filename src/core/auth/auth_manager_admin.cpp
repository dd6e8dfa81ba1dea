#include "auth/auth_manager.h"
#include "foundation/secure_settings.h"
#include "wire/wire_coding.h"

namespace vernalo {

namespace {

const QString kEnterAdminKey = QStringLiteral("Syötä admin-avain.");
const QString kInvalidRole = QStringLiteral("Virheellinen rooli.");

QString userPath(qint64 userID, const char *suffix = "")
{
    return QStringLiteral("/admin/users/") + QString::number(userID) + QLatin1String(suffix);
}

} // namespace

QCoro::Task<AuthResult<>> AuthManager::finishCall(Call call)
{
    // The body of a successful reply carries nothing these operations need.
    const AuthResult<HttpAnswer> reply = co_await runCall(call);
    if (!reply)
        co_return reply.failure();
    const AuthResult<> done(std::monostate {});
    co_return done;
}

QString AuthManager::loadStoredAdminKey() const
{
    return m_settings->value(QLatin1String(kAdminKeyStorageKey)).toString();
}

void AuthManager::saveAdminKey(const QString &key)
{
    const QString trimmed = key.trimmed();
    if (trimmed.isEmpty())
        m_settings->remove(QLatin1String(kAdminKeyStorageKey));
    else
        m_settings->setValue(QLatin1String(kAdminKeyStorageKey), trimmed);
}

void AuthManager::clearAdminKey()
{
    m_settings->remove(QLatin1String(kAdminKeyStorageKey));
}

QCoro::Task<AuthResult<QList<AuthAdminUser>>> AuthManager::adminListUsers(QString adminKey)
{
    QPointer<AuthManager> self(this);
    const QString key = adminKey.trimmed();
    if (key.isEmpty())
        co_return AuthRequestError::server(kEnterAdminKey);
    Call call;
    call.operation = QStringLiteral("listUsers");
    call.path = QStringLiteral("/admin/users");
    call.method = "GET";
    call.headers = {{"X-Admin-Key", key.toUtf8()}};
    call.fallback = QStringLiteral("Käyttäjien haku epäonnistui.");
    call.secrets = {key};
    const AuthResult<HttpAnswer> reply = co_await runCall(call);
    if (!self)
        co_return AuthFailure::withoutText(QStringLiteral("manager gone"));
    if (!reply)
        co_return reply.failure();
    QString error;
    std::optional<AuthAdminUsersResponse> response;
    if (const auto object = wire::parseObject(reply.value().body, &error))
        response = AuthAdminUsersResponse::fromJson(*object, &error);
    if (!response)
        co_return AuthFailure::withoutText(QStringLiteral("users reply ") + error,
                                           reply.value().status);
    co_return response->users;
}

QCoro::Task<AuthResult<>> AuthManager::adminCreateUser(QString email, QString password,
                                                       QString role, QString adminKey)
{
    const QString normalizedEmail = email.trimmed().toLower();
    const QString trimmedPassword = password.trimmed();
    const QString normalizedRole = role.trimmed().toLower();
    const QString key = adminKey.trimmed();
    if (normalizedEmail.isEmpty() || trimmedPassword.isEmpty())
        co_return AuthRequestError::server(QStringLiteral("Syötä sähköposti ja salasana."));
    if (!isKnownAuthRole(normalizedRole))
        co_return AuthRequestError::server(kInvalidRole);
    if (key.isEmpty())
        co_return AuthRequestError::server(kEnterAdminKey);
    Call call;
    call.operation = QStringLiteral("createUser");
    call.path = QStringLiteral("/admin/users");
    call.method = "POST";
    call.headers = {{"Content-Type", "application/json"}, {"X-Admin-Key", key.toUtf8()}};
    call.body = wire::compact(
        AuthAdminCreateUserRequest {normalizedEmail, trimmedPassword, normalizedRole}.toJson());
    call.fallback = QStringLiteral("Käyttäjän luonti epäonnistui.");
    call.secrets = {key, trimmedPassword};
    co_return co_await finishCall(call);
}

QCoro::Task<AuthResult<>> AuthManager::adminSetUserRole(qint64 userID, QString role,
                                                        QString adminKey)
{
    const QString normalizedRole = role.trimmed().toLower();
    const QString key = adminKey.trimmed();
    if (!isKnownAuthRole(normalizedRole))
        co_return AuthRequestError::server(kInvalidRole);
    if (key.isEmpty())
        co_return AuthRequestError::server(kEnterAdminKey);
    Call call;
    call.operation = QStringLiteral("setRole");
    call.path = userPath(userID, "/role");
    call.secondPath = userPath(userID, "/set-role");
    call.method = "POST";
    call.headers = {{"Content-Type", "application/json"}, {"X-Admin-Key", key.toUtf8()}};
    call.body = wire::compact(AuthAdminRoleRequest {normalizedRole}.toJson());
    call.fallback = QStringLiteral("Roolin vaihto epäonnistui.");
    call.notAvailableText = QStringLiteral("Roolin vaihto ei ole käytössä auth-palvelussa.");
    call.secrets = {key};
    co_return co_await finishCall(call);
}

QCoro::Task<AuthResult<>> AuthManager::adminSetUserEnabled(qint64 userID, bool enabled,
                                                           QString adminKey)
{
    const QString key = adminKey.trimmed();
    if (key.isEmpty())
        co_return AuthRequestError::server(kEnterAdminKey);
    Call call;
    call.operation = enabled ? QStringLiteral("enableUser") : QStringLiteral("disableUser");
    call.path = userPath(userID, enabled ? "/enable" : "/disable");
    call.method = "POST";
    call.headers = {{"X-Admin-Key", key.toUtf8()}};
    call.fallback = enabled ? QStringLiteral("Käyttäjän aktivointi epäonnistui.")
                            : QStringLiteral("Käyttäjän esto epäonnistui.");
    call.secrets = {key};
    co_return co_await finishCall(call);
}

QCoro::Task<AuthResult<>> AuthManager::adminDeleteUser(qint64 userID, QString adminKey)
{
    const QString key = adminKey.trimmed();
    if (key.isEmpty())
        co_return AuthRequestError::server(kEnterAdminKey);
    Call call;
    call.operation = QStringLiteral("deleteUser");
    call.path = userPath(userID);
    call.method = "DELETE";
    call.headers = {{"X-Admin-Key", key.toUtf8()}};
    call.fallback = QStringLiteral("Käyttäjän poisto epäonnistui.");
    call.secrets = {key};
    co_return co_await finishCall(call);
}

QCoro::Task<AuthResult<>> AuthManager::adminResetPassword(qint64 userID, QString password,
                                                          QString adminKey)
{
    const QString trimmedPassword = password.trimmed();
    const QString key = adminKey.trimmed();
    if (trimmedPassword.isEmpty())
        co_return AuthRequestError::server(QStringLiteral("Syötä uusi salasana."));
    if (key.isEmpty())
        co_return AuthRequestError::server(kEnterAdminKey);
    Call call;
    call.operation = QStringLiteral("resetPassword");
    call.path = userPath(userID, "/reset-password");
    call.method = "POST";
    call.headers = {{"Content-Type", "application/json"}, {"X-Admin-Key", key.toUtf8()}};
    call.body = wire::compact(AuthAdminPasswordRequest {trimmedPassword}.toJson());
    call.fallback = QStringLiteral("Salasanan nollaus epäonnistui.");
    call.secrets = {key, trimmedPassword};
    co_return co_await finishCall(call);
}

} // namespace vernalo
