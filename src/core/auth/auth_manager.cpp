#include "auth/auth_manager.h"

#include "foundation/app_log.h"
#include "foundation/build_info.h"
#include "foundation/secure_settings.h"
#include "ports/desktop_services.h"
#include "wire/clock.h"
#include "wire/json_fields.h"
#include "wire/wire_coding.h"

#include <QNetworkAccessManager>
#include <QRegularExpression>

namespace vernalo {

namespace {

QString key(const char *name)
{
    return QLatin1String(name);
}

// An internet date-time: the zone is required, a fraction of a second is tolerated.
bool isInternetDateTime(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(\.\d+)?(Z|[+-]\d{2}:\d{2})$)"));
    return pattern.match(text).hasMatch();
}

} // namespace

AuthManager::AuthManager(SecureSettings *settings, QNetworkAccessManager *network,
                         DesktopServices *desktop, Clock *clock, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_network(network)
    , m_desktop(desktop)
    , m_clock(clock)
{
    m_authURL = storedAuthURLOrDefault();
    m_rememberSession = m_settings->value(key(kRememberSessionKey), false).toBool();
    // The restore runs once the event loop turns, after the screens have bound to the state.
    QMetaObject::invokeMethod(
        this, [this]() { bootstrap(); }, Qt::QueuedConnection);
}

AuthManager::~AuthManager() = default;

QString AuthManager::defaultAuthURL()
{
    return buildinfo::defaultAuthServiceURL();
}

QVariant AuthManager::currentUserValue() const
{
    return m_currentUser ? QVariant(m_currentUser->toVariantMap()) : QVariant();
}

void AuthManager::submitLogin(const QString &email, const QString &password, bool remember)
{
    login(email, password, remember);
}

void AuthManager::logout()
{
    ++m_sessionEpoch;
    clearAuthState();
    AppLog::write(QStringLiteral("auth logout"));
}

void AuthManager::setRememberSession(bool remember)
{
    if (m_rememberSession != remember) {
        m_rememberSession = remember;
        Q_EMIT rememberSessionChanged();
    }
    m_settings->setValue(key(kRememberSessionKey), remember);
    // This run stays signed in; only the copy kept for the next start goes.
    if (!remember)
        removeStoredSession();
}

std::optional<QString> AuthManager::currentBackendSessionToken() const
{
    if (m_sessionToken && !m_sessionToken->isEmpty())
        return m_sessionToken;
    const QString stored = storedToken().trimmed();
    if (!stored.isEmpty())
        return stored;
    return std::nullopt;
}

void AuthManager::useDefaultAuthURL()
{
    setAuthURL(defaultAuthURL());
    m_settings->setValue(key(kAuthURLKey), m_authURL);
    setErrorMessage({});
    AppLog::write(QStringLiteral("auth url reset to default"));
}

QCoro::Task<> AuthManager::promptForAuthURL()
{
    QPointer<AuthManager> self(this);
    m_desktop->bringToFront();
    TextPromptRequest request;
    request.title = QStringLiteral("Auth URL");
    request.informativeText = QStringLiteral("Syötä auth-palvelun URL.");
    request.initialText = m_authURL;
    request.placeholder = defaultAuthURL();
    const std::optional<QString> answer = co_await m_desktop->promptText(request);
    if (!self || !answer)
        co_return;
    const std::optional<QString> normalized = normalizeAuthURL(*answer);
    if (!normalized) {
        setErrorMessage(QStringLiteral("Virheellinen auth-osoite"));
        co_return;
    }
    // Changing the address does not sign the user out.
    setAuthURL(*normalized);
    m_settings->setValue(key(kAuthURLKey), m_authURL);
    setErrorMessage({});
    AppLog::write(QStringLiteral("auth url changed"));
}

void AuthManager::editAuthURL()
{
    promptForAuthURL();
}

QString AuthManager::redactSecrets(QString text, const QStringList &extraSecrets) const
{
    QStringList secrets = extraSecrets;
    if (m_sessionToken)
        secrets << *m_sessionToken;
    secrets << storedToken() << loadStoredAdminKey();
    for (const QString &secret : std::as_const(secrets)) {
        const QString trimmed = secret.trimmed();
        if (trimmed.size() >= 4)
            text.replace(trimmed, QStringLiteral("***"));
    }
    return text;
}

std::optional<StoredAuthMeta> AuthManager::loadMeta() const
{
    const QVariant stored = m_settings->value(key(kAuthMetaKey));
    if (!stored.isValid())
        return std::nullopt;
    const auto object = wire::parseObject(stored.toString().toUtf8());
    if (!object)
        return std::nullopt;
    return StoredAuthMeta::fromJson(*object);
}

void AuthManager::saveMeta(const AuthUser &user, const QString &authURL)
{
    StoredAuthMeta meta;
    meta.user = user;
    meta.verifiedAt = toIso8601(m_clock->now());
    meta.authURL = authURL;
    m_settings->setValue(key(kAuthMetaKey), QString::fromUtf8(wire::compact(meta.toJson())));
}

bool AuthManager::isMetaFresh(const StoredAuthMeta &meta) const
{
    if (!isInternetDateTime(meta.verifiedAt))
        return false;
    const std::optional<QDateTime> verifiedAt = fromIso8601(meta.verifiedAt);
    if (!verifiedAt)
        return false;
    // A moment in the future counts as fresh.
    return verifiedAt->msecsTo(m_clock->now()) < kTokenTTLSeconds * 1000;
}

QString AuthManager::storedToken() const
{
    const QVariant stored = m_settings->value(key(kSessionTokenKey));
    return stored.isValid() ? stored.toString() : QString();
}

void AuthManager::removeStoredSession()
{
    m_settings->remove(key(kSessionTokenKey));
    m_settings->remove(key(kAuthMetaKey));
}

void AuthManager::clearAuthState()
{
    removeStoredSession();
    m_sessionToken.reset();
    setCurrentUser(std::nullopt);
    setAuthenticated(false);
    setErrorMessage({});
    setAuthURL(storedAuthURLOrDefault());
}

QString AuthManager::storedAuthURLOrDefault() const
{
    const QVariant stored = m_settings->value(key(kAuthURLKey));
    if (stored.isValid()) {
        if (auto normalized = normalizeAuthURL(stored.toString()))
            return *normalized;
    }
    return defaultAuthURL();
}

void AuthManager::setAuthenticated(bool value)
{
    if (m_isAuthenticated == value)
        return;
    m_isAuthenticated = value;
    Q_EMIT isAuthenticatedChanged();
}

void AuthManager::setChecking(bool value)
{
    if (m_isChecking == value)
        return;
    m_isChecking = value;
    Q_EMIT isCheckingChanged();
}

void AuthManager::setCurrentUser(std::optional<AuthUser> user)
{
    if (m_currentUser == user)
        return;
    m_currentUser = std::move(user);
    Q_EMIT currentUserChanged();
}

void AuthManager::setErrorMessage(const QString &message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = message;
    Q_EMIT errorMessageChanged();
}

void AuthManager::setAuthURL(const QString &url)
{
    if (m_authURL == url)
        return;
    m_authURL = url;
    Q_EMIT authURLChanged();
}

void AuthManager::changeLoginsInFlight(int delta)
{
    const bool wasBusy = isBusy();
    m_loginsInFlight = std::max(0, m_loginsInFlight + delta);
    if (wasBusy != isBusy())
        Q_EMIT isBusyChanged();
}

} // namespace vernalo
