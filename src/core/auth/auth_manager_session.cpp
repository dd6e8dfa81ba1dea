#include "auth/auth_manager.h"
#include "foundation/app_log.h"
#include "foundation/secure_settings.h"
#include "wire/wire_coding.h"

namespace vernalo {

namespace {

const QString kLoginFallback = QStringLiteral("Kirjautuminen epäonnistui.");

// A gateway that could not reach the service answers for it; the token was never judged.
bool isGatewayStatus(int status)
{
    return status == 502 || status == 503 || status == 504;
}

bool hasControlCharacters(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

QString failureSummary(const AuthFailure &failure)
{
    QString summary = QStringLiteral("status=%1").arg(failure.httpStatus);
    if (failure.isOffline())
        summary += QStringLiteral(" offline=true");
    if (!failure.reason.isEmpty())
        summary += QStringLiteral(" reason=") + failure.reason;
    return summary;
}

} // namespace

QCoro::Task<> AuthManager::bootstrap()
{
    QPointer<AuthManager> self(this);
    setChecking(true);
    setErrorMessage({});

    if (!m_rememberSession) {
        removeStoredSession();
        m_sessionToken.reset();
        setCurrentUser(std::nullopt);
        setAuthenticated(false);
        setChecking(false);
        AppLog::write(QStringLiteral("auth restore skipped remember=false"));
        co_return;
    }

    const QString token = storedToken();
    const std::optional<StoredAuthMeta> meta = loadMeta();
    if (token.trimmed().isEmpty()) {
        clearAuthState();
        setChecking(false);
        AppLog::write(QStringLiteral("auth restore no stored token"));
        co_return;
    }
    if (meta) {
        if (const auto metaURL = normalizeAuthURL(meta->authURL)) {
            setAuthURL(*metaURL);
            m_settings->setValue(QLatin1String(kAuthURLKey), *metaURL);
        }
    }

    const QString url = m_authURL;
    const quint64 epoch = m_sessionEpoch;
    const AuthResult<AuthUser> verified = co_await verifyToken(token, url);
    if (!self)
        co_return;
    if (epoch != m_sessionEpoch) {
        // The user signed in or out while the check ran; that choice stands.
        setChecking(false);
        co_return;
    }

    if (verified) {
        m_sessionToken = token;
        setCurrentUser(verified.value());
        setAuthenticated(true);
        setErrorMessage({});
        if (m_rememberSession)
            saveMeta(verified.value(), url);
        setChecking(false);
        AppLog::write(QStringLiteral("auth restore verified"));
        co_return;
    }

    const AuthFailure &failure = verified.failure();
    const bool unreachable = failure.isOffline() || isGatewayStatus(failure.httpStatus);
    if (unreachable && meta && isMetaFresh(*meta)) {
        // Offline grace: the stored token stays for the backend; the in-memory one stays empty.
        setCurrentUser(meta->user);
        setAuthenticated(true);
        setErrorMessage({});
        setChecking(false);
        AppLog::write(QStringLiteral("auth restore offline grace ") + failureSummary(failure));
        co_return;
    }

    clearAuthState();
    setChecking(false);
    AppLog::write(QStringLiteral("auth restore signed out ") + failureSummary(failure));
}

QCoro::Task<bool> AuthManager::login(QString email, QString password,
                                     std::optional<bool> rememberSession)
{
    QPointer<AuthManager> self(this);
    const QString normalizedEmail = email.trimmed().toLower();
    const QString trimmedPassword = password.trimmed();
    if (normalizedEmail.isEmpty() || trimmedPassword.isEmpty()) {
        setErrorMessage(QStringLiteral("Syötä sähköposti ja salasana."));
        co_return false;
    }
    if (rememberSession)
        setRememberSession(*rememberSession);

    changeLoginsInFlight(+1);
    setErrorMessage({});
    const QString url = m_authURL;
    const AuthResult<AuthLoginResponse> reply =
        co_await loginRequest(normalizedEmail, trimmedPassword, url);
    if (!self)
        co_return false;
    changeLoginsInFlight(-1);

    if (!reply) {
        setErrorMessage(reply.failure().description(kLoginFallback));
        AppLog::write(QStringLiteral("auth login failed ") + failureSummary(reply.failure()));
        co_return false;
    }
    const std::optional<QString> &token = reply.value().token;
    // A token that cannot travel in a header is as unusable as a missing one.
    if (!token || token->trimmed().isEmpty() || hasControlCharacters(*token)) {
        setErrorMessage(QStringLiteral("Virheellinen kirjautumisvastaus."));
        AppLog::write(QStringLiteral("auth login failed reason=no usable token"));
        co_return false;
    }

    const AuthUser user = reply.value().user.value_or(
        AuthUser {std::nullopt, normalizedEmail, QStringLiteral("user")});
    m_sessionToken = *token;
    if (m_rememberSession) {
        m_settings->setValue(QLatin1String(kSessionTokenKey), *token);
        saveMeta(user, url);
    } else {
        removeStoredSession();
    }
    ++m_sessionEpoch;
    setCurrentUser(user);
    setAuthenticated(true);
    setErrorMessage({});
    AppLog::write(QStringLiteral("auth login ok remember=%1 admin=%2")
                      .arg(m_rememberSession ? QStringLiteral("true") : QStringLiteral("false"),
                           user.isAdmin() ? QStringLiteral("true") : QStringLiteral("false")));
    co_return true;
}

QCoro::Task<AuthResult<AuthLoginResponse>>
AuthManager::loginRequest(QString email, QString password, QString authURL)
{
    QPointer<AuthManager> self(this);
    const QByteArray body = wire::compact(AuthLoginRequest {email, password}.toJson());
    const HttpHeaders headers {{"Content-Type", "application/json"}};
    const AuthResult<HttpAnswer> sent =
        co_await sendTo(authURL, QStringLiteral("/auth/login"), "POST", headers, body);
    if (!self)
        co_return AuthFailure::withoutText(QStringLiteral("manager gone"));
    if (!sent)
        co_return sent.failure();
    const HttpAnswer &reply = sent.value();
    if (!reply.isSuccess()) {
        const QStringList secrets(password);
        co_return failureFromReply(reply, kLoginFallback, secrets);
    }
    QString error;
    const auto object = wire::parseObject(reply.body, &error);
    std::optional<AuthLoginResponse> response;
    if (object)
        response = AuthLoginResponse::fromJson(*object, &error);
    if (!response)
        co_return AuthFailure::withoutText(QStringLiteral("login reply ") + error, reply.status);
    co_return *response;
}

QCoro::Task<AuthResult<AuthUser>> AuthManager::verifyToken(QString token, QString authURL)
{
    QPointer<AuthManager> self(this);
    const HttpHeaders headers {{"Content-Type", "application/json"},
                               {"Authorization", "Bearer " + token.toUtf8()}};
    const AuthResult<HttpAnswer> sent =
        co_await sendTo(authURL, QStringLiteral("/auth/verify"), "POST", headers, std::nullopt);
    if (!self)
        co_return AuthFailure::withoutText(QStringLiteral("manager gone"));
    if (!sent)
        co_return sent.failure();
    const HttpAnswer &reply = sent.value();
    if (!reply.isSuccess()) {
        const QStringList secrets(token);
        co_return failureFromReply(reply, QStringLiteral("Sessio vanhentunut, kirjaudu uudelleen."),
                                   secrets);
    }
    QString error;
    const auto object = wire::parseObject(reply.body, &error);
    std::optional<AuthVerifyResponse> response;
    if (object)
        response = AuthVerifyResponse::fromJson(*object, &error);
    if (!response)
        co_return AuthFailure::withoutText(QStringLiteral("verify reply ") + error, reply.status);
    if (!response->user) {
        co_return AuthFailure::from(
            AuthRequestError::server(QStringLiteral("Virheellinen auth-vastaus")), reply.status);
    }
    co_return *response->user;
}

} // namespace vernalo
