#pragma once

#include "auth/auth_request_error.h"
#include "auth/stored_auth_meta.h"
#include "backend/http_exchange.h"
#include "wire/auth_user.h"
#include "wire/auth_wire_records.h"

#include <optional>
#include <qcoro/qcorotask.h>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

class QNetworkAccessManager;

namespace vernalo {

class Clock;
class DesktopServices;
class SecureSettings;

// The signed-in state of the application: sign-in against the auth service, the bearer token
// and its storage, the start-up restore, the auth service address, and the account and admin
// calls built on the same request helper. Lives on the main thread; every published value
// notifies the screens when it changes.
//
// Secrets (the token, the admin key, passwords) never reach a log line, and an error text
// that the service wrote is cleared of any secret it echoes.
class AuthManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isAuthenticated READ isAuthenticated NOTIFY isAuthenticatedChanged)
    Q_PROPERTY(bool isChecking READ isChecking NOTIFY isCheckingChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(QVariant currentUser READ currentUserValue NOTIFY currentUserChanged)
    Q_PROPERTY(bool isAdmin READ isAdmin NOTIFY currentUserChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString authURL READ authURL NOTIFY authURLChanged)
    Q_PROPERTY(bool rememberSession READ rememberSession WRITE setRememberSession NOTIFY
                   rememberSessionChanged)
    Q_PROPERTY(QString defaultAuthURL READ defaultAuthURL CONSTANT)

public:
    // Store keys.
    static constexpr auto kAuthURLKey = "vernalo.auth.url";
    static constexpr auto kAuthMetaKey = "vernalo.auth.meta";
    static constexpr auto kRememberSessionKey = "vernalo.auth.remember_session";
    static constexpr auto kSessionTokenKey = "vernalo.auth.session_token";
    static constexpr auto kAdminKeyStorageKey = "vernalo.auth.admin_key";
    static constexpr qint64 kTokenTTLSeconds = 1209600; // 14 days

    // Reads the stored address and remember flag, then queues the start-up restore on the event
    // loop. The network manager must outlive every call; the other collaborators must outlive
    // the manager.
    AuthManager(SecureSettings *settings, QNetworkAccessManager *network, DesktopServices *desktop,
                Clock *clock, QObject *parent = nullptr);
    ~AuthManager() override;

    bool isAuthenticated() const { return m_isAuthenticated; }
    bool isChecking() const { return m_isChecking; }
    bool isBusy() const { return m_loginsInFlight > 0; }
    const std::optional<AuthUser> &currentUser() const { return m_currentUser; }
    QVariant currentUserValue() const;
    bool isAdmin() const { return m_currentUser && m_currentUser->isAdmin(); }
    QString errorMessage() const { return m_errorMessage; }
    QString authURL() const { return m_authURL; }
    bool rememberSession() const { return m_rememberSession; }
    static QString defaultAuthURL();

    // --- Session ---------------------------------------------------------------------------
    // The start-up restore: verifies the stored token; keeps the user signed in on a recent
    // verification when the service cannot be reached.
    QCoro::Task<> bootstrap();
    // True when signed in. `rememberSession`, when given, is applied first.
    QCoro::Task<bool> login(QString email, QString password,
                            std::optional<bool> rememberSession = std::nullopt);
    // For the sign-in screen, which only starts the call and watches the published state.
    Q_INVOKABLE void submitLogin(const QString &email, const QString &password,
                                 bool rememberSession);
    Q_INVOKABLE void logout();
    void setRememberSession(bool remember);
    // The token the recording controller forwards to the speech-to-text backend.
    std::optional<QString> currentBackendSessionToken() const;

    // --- Auth service address ---------------------------------------------------------------
    Q_INVOKABLE void useDefaultAuthURL();
    QCoro::Task<> promptForAuthURL();
    Q_INVOKABLE void editAuthURL();

    // --- Requests ----------------------------------------------------------------------------
    // Any call to the auth service at the current address: the context header first, then the
    // given headers (which win over it). The reply is returned whatever its status.
    QCoro::Task<AuthResult<HttpAnswer>> performRequest(QString path, QByteArray method,
                                                       HttpHeaders headers,
                                                       std::optional<QByteArray> body);
    // The error text a failed reply carries: "detail", else "error", else "message" of a JSON
    // object; a plain-text body as it is; an HTML page as "Palvelinvirhe (<status>)". No value
    // when the reply says nothing usable (empty, blank, JSON without a text, not UTF-8).
    static std::optional<QString> parseServerError(const QByteArray &body, int status,
                                                   const QByteArray &contentType = {});
    // Trimmed, trailing slashes removed; no value unless it is an http(s) address with a host.
    static std::optional<QString> normalizeAuthURL(const QString &text);
    // The base URL with its path replaced by `path` (scheme, host, port and query kept).
    static AuthResult<QUrl> authEndpoint(const QString &path, const QString &baseURL);
    // A body that is an HTML page (a proxy's or gateway's error page), not a service reply.
    static bool looksLikeHtml(const QByteArray &body, const QByteArray &contentType);

    // --- Account -----------------------------------------------------------------------------
    // The service's confirmation text.
    QCoro::Task<AuthResult<QString>> requestPasswordReset(QString email);
    QCoro::Task<AuthResult<QString>> changePassword(QString currentPassword, QString newPassword);

    // --- Administration ----------------------------------------------------------------------
    QString loadStoredAdminKey() const;
    void saveAdminKey(const QString &key);
    void clearAdminKey();
    QCoro::Task<AuthResult<QList<AuthAdminUser>>> adminListUsers(QString adminKey);
    QCoro::Task<AuthResult<>> adminCreateUser(QString email, QString password, QString role,
                                              QString adminKey);
    QCoro::Task<AuthResult<>> adminSetUserRole(qint64 userID, QString role, QString adminKey);
    QCoro::Task<AuthResult<>> adminSetUserEnabled(qint64 userID, bool enabled, QString adminKey);
    QCoro::Task<AuthResult<>> adminDeleteUser(qint64 userID, QString adminKey);
    QCoro::Task<AuthResult<>> adminResetPassword(qint64 userID, QString password, QString adminKey);

    // Replaces every known secret (token, admin key, the given extras) in a text meant for the
    // user. Secrets shorter than four characters are left alone: replacing them would garble
    // ordinary words without hiding anything.
    QString redactSecrets(QString text, const QStringList &extraSecrets = {}) const;

Q_SIGNALS:
    void isAuthenticatedChanged();
    void isCheckingChanged();
    void isBusyChanged();
    void currentUserChanged();
    void errorMessageChanged();
    void authURLChanged();
    void rememberSessionChanged();

private:
    // One call as the account and admin operations make it: a 2xx reply, or the failure with
    // the service's text or `fallback`. With a second path, a 404 on the first one retries
    // there with the same request, and a 404 there gives `notAvailableText`.
    struct Call
    {
        QString operation; // for the log
        QString path;
        QString secondPath;
        QByteArray method;
        HttpHeaders headers;
        std::optional<QByteArray> body;
        QString fallback;
        QString notAvailableText;
        QStringList secrets;
    };
    QCoro::Task<AuthResult<HttpAnswer>> runCall(Call call);
    // runCall for the operations that only need to know it succeeded.
    QCoro::Task<AuthResult<>> finishCall(Call call);
    AuthFailure failureFromReply(const HttpAnswer &reply, const QString &fallback,
                                 const QStringList &secrets) const;
    QCoro::Task<AuthResult<HttpAnswer>> sendTo(QString baseURL, QString path, QByteArray method,
                                               HttpHeaders headers, std::optional<QByteArray> body);

    QCoro::Task<AuthResult<AuthLoginResponse>> loginRequest(QString email, QString password,
                                                            QString authURL);
    QCoro::Task<AuthResult<AuthUser>> verifyToken(QString token, QString authURL);

    std::optional<StoredAuthMeta> loadMeta() const;
    void saveMeta(const AuthUser &user, const QString &authURL);
    bool isMetaFresh(const StoredAuthMeta &meta) const;
    QString storedToken() const;
    void removeStoredSession();
    void clearAuthState();
    QString storedAuthURLOrDefault() const;

    void setAuthenticated(bool value);
    void setChecking(bool value);
    void setCurrentUser(std::optional<AuthUser> user);
    void setErrorMessage(const QString &message);
    void setAuthURL(const QString &url);
    void changeLoginsInFlight(int delta);

    SecureSettings *m_settings;
    QPointer<QNetworkAccessManager> m_network;
    DesktopServices *m_desktop;
    Clock *m_clock;

    bool m_isAuthenticated = false;
    bool m_isChecking = true;
    int m_loginsInFlight = 0;
    std::optional<AuthUser> m_currentUser;
    QString m_errorMessage;
    QString m_authURL;
    bool m_rememberSession = false;
    // The token of this run, in memory only.
    std::optional<QString> m_sessionToken;
    // Bumped by every sign-in and sign-out, so a restore that finishes later never overrides
    // what the user did meanwhile.
    quint64 m_sessionEpoch = 0;
};

} // namespace vernalo
