#include "app_context.h"

#include "audio/microphone_capture.h"
#include "audio/system_audio_capture.h"
#include "auth/admin_panel.h"
#include "auth/auth_manager.h"
#include "auth/change_password_flow.h"
#include "auth/password_reset_flow.h"
#include "backend/stt_api_client.h"
#include "desktop/desktop_notifier.h"
#include "desktop/qt_desktop_services.h"
#include "foundation/build_info.h"
#include "foundation/clock.h"
#include "foundation/secure_settings.h"
#include "foundation/stt_configuration.h"
#include "pulse/pulse_audio_system.h"
#include "recording/transcription_view_model.h"
#include "sessions/session_history_store.h"
#include "window_geometry.h"

#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QQmlEngine>
#include <QQuickStyle>

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
    m_monitor = std::make_unique<RecordingMonitor>(m_transcription.get(), m_clock.get());
    m_colorScheme = std::make_unique<ColorScheme>();
    m_notifier = std::make_unique<DesktopNotifier>();
    connect(m_monitor.get(), &RecordingMonitor::endedByItself, this,
            &AppContext::recordingEndedByItself);
}

// A person looking at another window learns that the meeting is no longer being recorded.
void AppContext::recordingEndedByItself(const QString &status)
{
    if (QGuiApplication::applicationState() != Qt::ApplicationActive)
        m_notifier->notify(QStringLiteral("Vernalo"), status);
}

void AppContext::rememberGeometry(QWindow *window)
{
    if (window)
        new WindowGeometry(window, window);
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
    // The source pickers show a stored display or application by its name from the start.
    m_transcription->refreshSystemAudioDisplays();
    m_transcription->refreshSystemAudioApplications();
    m_transcription->refreshMicrophonePermissionStatus(false);
    m_transcription->refreshSystemAudioPermissionStatus(false);
    m_transcription->runStartupCrashRecoveryIfNeeded();
}

// The controller goes first: it holds the captures, which hold the sound server.
AppContext::~AppContext()
{
    m_monitor.reset();
    m_transcription.reset();
    m_systemAudio.reset();
    m_microphone.reset();
}

bool AppContext::adminFeatureEnabled()
{
    return qEnvironmentVariable("VERNALO_INAPP_ADMIN_ENABLED") == QLatin1String("1");
}

namespace {
const char kContextProperty[] = "vernaloAppContext";
}

void AppContext::exposeTo(QQmlEngine *engine)
{
    // A desktop style themed by the screens' own palette, on every desktop alike.
    static const bool styled = [] {
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
        return true;
    }();
    Q_UNUSED(styled);
    engine->setProperty(kContextProperty, QVariant::fromValue(static_cast<QObject *>(this)));
    // The resource root holds the module's qmldir, so `import Vernalo` resolves in tests too.
    engine->addImportPath(QStringLiteral("qrc:/"));
}

QUrl AppContext::mainScreenUrl()
{
    return QUrl(QStringLiteral("qrc:/Vernalo/qml/Main.qml"));
}

AppContext *AppContext::create(QQmlEngine *engine, QJSEngine *)
{
    auto *context =
        qobject_cast<AppContext *>(engine->property(kContextProperty).value<QObject *>());
    Q_ASSERT(context);
    QQmlEngine::setObjectOwnership(context, QQmlEngine::CppOwnership);
    return context;
}

QString AppContext::version()
{
    return buildinfo::version();
}
QString AppContext::build()
{
    return buildinfo::buildNumber();
}

} // namespace vernalo
