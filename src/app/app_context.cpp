#include "app_context.h"

#include "auth/admin_panel.h"
#include "auth/auth_manager.h"
#include "auth/change_password_flow.h"
#include "auth/password_reset_flow.h"
#include "desktop/qt_desktop_services.h"
#include "foundation/build_info.h"
#include "foundation/clock.h"
#include "foundation/secure_settings.h"
#include "foundation/stt_configuration.h"

#include <QNetworkAccessManager>
#include <QQmlContext>

namespace vernalo {

void applyBackendOverride(SecureSettings *settings, const BackendOverride &override)
{
    if (!override.backendURL.isEmpty()) {
        STTConfigurationStore store(settings);
        STTConfiguration config = store.load();
        config.baseURL = override.backendURL;
        config.updateManifestURL = override.backendURL + QStringLiteral("/vernalo/latest-linux.json");
        store.save(config);
    }
    if (!override.authURL.isEmpty())
        settings->setValue(QLatin1String(AuthManager::kAuthURLKey), override.authURL);
}

AppContext::AppContext(const BackendOverride &override, QObject *parent)
    : QObject(parent)
    , m_settings(std::make_unique<SecureSettings>())
    , m_clock(std::make_unique<SystemClock>())
    , m_network(std::make_unique<QNetworkAccessManager>())
    , m_desktop(std::make_unique<QtDesktopServices>())
{
    applyBackendOverride(m_settings.get(), override);
    m_auth = std::make_unique<AuthManager>(m_settings.get(), m_network.get(), m_desktop.get(),
                                           m_clock.get());
    m_passwordReset = std::make_unique<PasswordResetFlow>(m_auth.get());
    m_changePassword = std::make_unique<ChangePasswordFlow>(m_auth.get());
    m_adminPanel = std::make_unique<AdminPanel>(m_auth.get(), m_desktop.get());
}

AppContext::~AppContext() = default;

bool AppContext::adminFeatureEnabled()
{
    return qEnvironmentVariable("VERNALO_INAPP_ADMIN_ENABLED") == QLatin1String("1");
}

void AppContext::exposeTo(QQmlContext *context)
{
    context->setContextProperty(QStringLiteral("auth"), m_auth.get());
    context->setContextProperty(QStringLiteral("desktop"), m_desktop.get());
    context->setContextProperty(QStringLiteral("passwordReset"), m_passwordReset.get());
    context->setContextProperty(QStringLiteral("changePassword"), m_changePassword.get());
    context->setContextProperty(QStringLiteral("adminPanel"), m_adminPanel.get());
    context->setContextProperty(QStringLiteral("adminFeatureEnabled"), adminFeatureEnabled());
    context->setContextProperty(QStringLiteral("appVersion"), buildinfo::version());
    context->setContextProperty(QStringLiteral("appBuild"), buildinfo::buildNumber());
}

} // namespace vernalo
