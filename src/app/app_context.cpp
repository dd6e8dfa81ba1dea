#include "app_context.h"

#include "audio/microphone_capture.h"
#include "audio/system_audio_capture.h"
#include "auth/admin_panel.h"
#include "auth/auth_manager.h"
#include "auth/change_password_flow.h"
#include "auth/password_reset_flow.h"
#include "backend/stt_api_client.h"
#include "desktop/qt_desktop_services.h"
#include "foundation/build_info.h"
#include "foundation/secure_settings.h"
#include "foundation/stt_configuration.h"
#include "pulse/pulse_audio_system.h"
#include "recording/transcription_view_model.h"
#include "sessions/session_history_store.h"
#include "wire/clock.h"

#include <QNetworkAccessManager>
#include <QQmlContext>

namespace vernalo {

void applyBackendOverride(SecureSettings *settings, const BackendOverride &override)
{
    if (!override.backendURL.isEmpty()) {
        STTConfigurationStore store(settings);
        STTConfiguration config = store.load();
        config.baseURL = override.backendURL;
        config.updateManifestURL =
            override.backendURL + QStringLiteral("/vernalo/latest-linux.json");
        store.save(config);
    }
    if (!override.authURL.isEmpty())
        settings->setValue(QLatin1String(AuthManager::kAuthURLKey), override.authURL);
}

AppContext::AppContext(const BackendOverride &override, std::unique_ptr<AudioSystem> audioSystem,
                       std::unique_ptr<Clock> clock, QObject *parent)
    : QObject(parent)
    , m_settings(std::make_unique<SecureSettings>())
    , m_clock(clock ? std::move(clock) : std::make_unique<SystemClock>())
    , m_network(std::make_unique<QNetworkAccessManager>())
    , m_desktop(std::make_unique<QtDesktopServices>())
{
    applyBackendOverride(m_settings.get(), override);
    m_auth = std::make_unique<AuthManager>(m_settings.get(), m_network.get(), m_desktop.get(),
                                           m_clock.get());
    m_passwordReset = std::make_unique<PasswordResetFlow>(m_auth.get());
    m_changePassword = std::make_unique<ChangePasswordFlow>(m_auth.get());
    m_adminPanel = std::make_unique<AdminPanel>(m_auth.get(), m_desktop.get());

    m_configStore = std::make_unique<STTConfigurationStore>(m_settings.get());
    m_historyStore = std::make_unique<SessionHistoryStore>(SessionHistoryStore::defaultDirectory());
    m_apiClient = std::make_unique<STTAPIClient>(m_network.get(), m_clock.get());
    m_audioSystem = audioSystem ? std::move(audioSystem)
                                : std::make_unique<PulseAudioSystem>(&qtScreenDisplays);
    m_microphone = std::make_unique<MicrophoneCapture>(m_audioSystem.get());
    m_systemAudio = std::make_unique<SystemAudioCapture>(m_audioSystem.get(), m_clock.get());
    TranscriptionViewModel::Collaborators collaborators;
    collaborators.configStore = m_configStore.get();
    collaborators.historyStore = m_historyStore.get();
    collaborators.apiClient = m_apiClient.get();
    collaborators.streamClientFactory = defaultStreamClientFactory(m_clock.get());
    collaborators.microphone = m_microphone.get();
    collaborators.systemAudio = m_systemAudio.get();
    collaborators.audioSystem = m_audioSystem.get();
    collaborators.desktop = m_desktop.get();
    collaborators.clock = m_clock.get();
    m_transcription = std::make_unique<TranscriptionViewModel>(std::move(collaborators));
    connect(m_auth.get(), &AuthManager::currentUserChanged, this, &AppContext::pushAuthContext);
}

void AppContext::pushAuthContext()
{
    m_transcription->updateAuthContext(m_auth->currentUserValue(),
                                       m_auth->currentBackendSessionToken().value_or(QString()));
}

void AppContext::mainWindowShown()
{
    m_adminPanel->prepareForDisplay(adminFeatureEnabled());
    pushAuthContext();
    m_transcription->refreshInputDevices();
    m_transcription->refreshMicrophonePermissionStatus(false);
    m_transcription->refreshSystemAudioPermissionStatus(false);
    m_transcription->runStartupCrashRecoveryIfNeeded();
}

// The controller goes first: it holds the captures, which hold the sound server.
AppContext::~AppContext()
{
    m_transcription.reset();
    m_systemAudio.reset();
    m_microphone.reset();
}

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
    context->setContextProperty(QStringLiteral("transcription"), m_transcription.get());
    context->setContextProperty(QStringLiteral("app"), this);
    context->setContextProperty(QStringLiteral("adminFeatureEnabled"), adminFeatureEnabled());
    context->setContextProperty(QStringLiteral("appVersion"), buildinfo::version());
    context->setContextProperty(QStringLiteral("appBuild"), buildinfo::buildNumber());
}

} // namespace vernalo
