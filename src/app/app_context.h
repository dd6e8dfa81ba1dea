#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QNetworkAccessManager;
class QQmlContext;

namespace vernalo {

class AuthManager;
class ChangePasswordFlow;
class Clock;
class PasswordResetFlow;
class AdminPanel;
class QtDesktopServices;
class SecureSettings;

// Addresses given on the command line (the local demo): written into the settings before the
// objects that read them are made.
struct BackendOverride
{
    QString backendURL;
    QString authURL;
};

// Owns the long-lived objects of one application run and hands them to the screens.
class AppContext : public QObject
{
    Q_OBJECT
public:
    explicit AppContext(const BackendOverride &override, QObject *parent = nullptr);
    ~AppContext() override;

    void exposeTo(QQmlContext *context);

    AuthManager *auth() const { return m_auth.get(); }
    QtDesktopServices *desktop() const { return m_desktop.get(); }
    SecureSettings *settings() const { return m_settings.get(); }
    Clock *clock() const { return m_clock.get(); }

    // The in-app user administration is offered only when this is exactly "1".
    static bool adminFeatureEnabled();

private:
    std::unique_ptr<SecureSettings> m_settings;
    std::unique_ptr<Clock> m_clock;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<QtDesktopServices> m_desktop;
    std::unique_ptr<AuthManager> m_auth;
    std::unique_ptr<PasswordResetFlow> m_passwordReset;
    std::unique_ptr<ChangePasswordFlow> m_changePassword;
    std::unique_ptr<AdminPanel> m_adminPanel;
};

// Applies command-line addresses to the stored settings.
void applyBackendOverride(SecureSettings *settings, const BackendOverride &override);

} // namespace vernalo
