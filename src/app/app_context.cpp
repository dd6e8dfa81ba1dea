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
#include "foundation/keyring_secrets.h"
#include "foundation/secure_settings.h"
#include "foundation/stt_configuration.h"
#include "foundation/transport_security.h"
#include "ports/desktop_services.h"
#include "pulse/pulse_audio_system.h"
#include "recording/pending_deletion_retry.h"
#include "recording/recording_shutdown.h"
#include "recording/transcription_view_model.h"
#include "sessions/session_history_store.h"
#include "sessions/session_search_index.h"
#include "sessions/session_search_model.h"
#include "window_geometry.h"
#include "wire/clock.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QPointer>
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
    if (override.useKeyring)
        m_settings->attachKeyring(
            std::make_unique<KeyringSecrets>(QLatin1String(SecureSettings::kKeyringService)));
    applyBackendOverride(m_settings.get(), override);
    m_auth = std::make_unique<AuthManager>(m_settings.get(), m_network.get(), m_desktop.get(),
                                           m_clock.get());
    m_passwordReset = std::make_unique<PasswordResetFlow>(m_auth.get());
    m_changePassword = std::make_unique<ChangePasswordFlow>(m_auth.get());
    m_adminPanel = std::make_unique<AdminPanel>(m_auth.get(), m_desktop.get());

    m_configStore = std::make_unique<STTConfigurationStore>(m_settings.get());
    m_historyStore = std::make_unique<SessionHistoryStore>(SessionHistoryStore::defaultDirectory());
    // Catching up reads only the files that changed since the last run (all of them once).
    m_searchIndex = std::make_unique<SessionSearchIndex>(
        SessionSearchIndex::pathBeside(m_historyStore->directory()));
    m_searchIndex->synchronize(*m_historyStore);
    m_historyStore->attachSearchIndex(m_searchIndex.get());
    m_sessionSearch = std::make_unique<SessionSearchModel>(m_searchIndex.get(), m_clock.get());
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
    m_shutdown = std::make_unique<RecordingShutdown>(m_transcription.get(), m_historyStore.get(),
                                                     m_clock.get(), m_desktop.get());
    m_deletionRetry = std::make_unique<PendingDeletionRetry>(
        m_transcription.get(), m_settings.get(), m_apiClient.get(), m_clock.get());
    connect(m_auth.get(), &AuthManager::currentUserChanged, this, &AppContext::pushAuthContext);
    connect(m_auth.get(), &AuthManager::isAuthenticatedChanged, this, [this] {
        if (!m_auth->isAuthenticated())
            forgetSignedOutUser();
    });
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

void AppContext::forgetSignedOutUser()
{
    m_passwordReset->reset();
    m_changePassword->reset();
    m_adminPanel->reset();
    m_transcription->clearForNextUser();
    // A stop that outlived the sign-out's limit still owns the transcript; clear it after.
    if (m_shutdown->isRecordingActive()) {
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection =
            connect(m_shutdown.get(), &RecordingShutdown::settled, this, [this, connection] {
                disconnect(*connection);
                if (!m_auth->isAuthenticated())
                    m_transcription->clearForNextUser();
            });
    }
}

void AppContext::signOut()
{
    runSignOut();
}

QCoro::Task<> AppContext::runSignOut()
{
    QPointer<AppContext> self(this);
    const bool stopped = co_await m_shutdown->confirmThenStop(
        QStringLiteral("Tallennus on käynnissä. Lopetetaanko tallennus ja kirjaudutaanko ulos?"),
        QStringLiteral("Lopeta ja kirjaudu ulos"));
    if (self && stopped)
        m_auth->logout();
}

bool AppContext::isUnencryptedRemote(const QString &address) const
{
    return vernalo::isUnencryptedRemote(address);
}

bool AppContext::isRecordingActive() const
{
    return m_shutdown->isRecordingActive();
}

void AppContext::closeAfterRecording()
{
    runClose();
}

QCoro::Task<> AppContext::runClose()
{
    QPointer<AppContext> self(this);
    const bool stopped = co_await m_shutdown->confirmThenStop(
        QStringLiteral("Tallennus on käynnissä. Lopetetaanko tallennus ja suljetaanko Vernalo?"),
        QStringLiteral("Lopeta ja sulje"));
    if (self && stopped)
        QCoreApplication::quit();
}

void AppContext::confirmDeleteSession(const QString &id)
{
    runConfirmDelete(id);
}

void AppContext::confirmDeleteAllSessions()
{
    runConfirmDelete(QString());
}

// An empty id asks about every session.
QCoro::Task<> AppContext::runConfirmDelete(QString id)
{
    QPointer<AppContext> self(this);
    ConfirmRequest request;
    request.title = QStringLiteral("Vernalo");
    request.message = id.isEmpty() ? QStringLiteral("Poistetaanko kaikki sessiot?")
                                   : QStringLiteral("Poistetaanko sessio?");
    request.acceptButton = QStringLiteral("Poista");
    request.destructive = true;
    const bool confirmed = co_await m_desktop->confirm(request);
    if (!self || !confirmed)
        co_return;
    if (id.isEmpty())
        m_transcription->deleteAllSessions();
    else
        m_transcription->deleteSession(id);
}

void AppContext::pushAuthContext()
{
    m_transcription->updateAuthContext(m_auth->currentUserValue(),
                                       m_auth->currentBackendSessionToken().value_or(QString()));
    m_deletionRetry->retryNow();
}

void AppContext::mainWindowShown()
{
    m_adminPanel->prepareForDisplay(adminFeatureEnabled());
    pushAuthContext();
    m_transcription->refreshInputDevices();
    // The source pickers show a stored display or application by its name from the start.
    m_transcription->refreshSystemAudioDisplays();
    m_transcription->refreshSystemAudioApplications();
    m_transcription->permissions()->refreshMicrophonePermissionStatus(false);
    m_transcription->permissions()->refreshSystemAudioPermissionStatus(false);
    m_transcription->runStartupCrashRecoveryIfNeeded();
}

// The controller goes first: it holds the captures, which hold the sound server.
AppContext::~AppContext()
{
    m_monitor.reset();
    m_deletionRetry.reset();
    m_shutdown.reset();
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
