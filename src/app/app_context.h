#pragma once

#include "auth/admin_panel.h"
#include "auth/auth_manager.h"
#include "auth/change_password_flow.h"
#include "auth/password_reset_flow.h"
#include "desktop/color_scheme.h"
#include "desktop/qt_desktop_services.h"
#include "ports/audio_system.h"
#include "recording/recording_monitor.h"
#include "recording/transcription_view_model.h"
#include "sessions/session_search_model.h"

#include <memory>
#include <qcoro/qcorotask.h>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <QUrl>
#include <QWindow>

class QJSEngine;
class QNetworkAccessManager;

class QQmlEngine;

namespace vernalo {

class AuthManager;
class ChangePasswordFlow;
class Clock;
class PasswordResetFlow;
class AdminPanel;
class DesktopNotifier;

class MicrophoneCapture;
class SessionHistoryStore;
class SessionSearchIndex;
class SessionSearchModel;
class STTAPIClient;
class STTConfigurationStore;
class SystemAudioCapture;
class TranscriptionViewModel;
class QtDesktopServices;
class SecureSettings;
class RecordingShutdown;
class PendingDeletionRetry;

// Addresses given on the command line (the local demo): written into the settings before the
// objects that read them are made.
struct BackendOverride
{
    QString backendURL;
    QString authURL;
    // Secrets in the desktop's keyring when one answers (the application); tests keep them in
    // the settings file so they never reach the user's keyring.
    bool useKeyring = false;
};

// Owns the long-lived objects of one application run and hands them to the screens, where it
// is the singleton App of the Vernalo module.
class AppContext : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(App)
    QML_SINGLETON
    Q_PROPERTY(vernalo::AuthManager *auth READ auth CONSTANT)
    Q_PROPERTY(vernalo::QtDesktopServices *desktop READ desktop CONSTANT)
    Q_PROPERTY(vernalo::PasswordResetFlow *passwordReset READ passwordReset CONSTANT)
    Q_PROPERTY(vernalo::ChangePasswordFlow *changePassword READ changePassword CONSTANT)
    Q_PROPERTY(vernalo::AdminPanel *adminPanel READ adminPanel CONSTANT)
    Q_PROPERTY(vernalo::TranscriptionViewModel *transcription READ transcription CONSTANT)
    Q_PROPERTY(vernalo::RecordingMonitor *monitor READ monitor CONSTANT)
    Q_PROPERTY(vernalo::ColorScheme *colorScheme READ colorScheme CONSTANT)
    Q_PROPERTY(vernalo::SessionSearchModel *sessionSearch READ sessionSearch CONSTANT)
    Q_PROPERTY(bool adminFeatureEnabled READ adminFeatureEnabled CONSTANT)
    Q_PROPERTY(QString version READ version CONSTANT)
    Q_PROPERTY(QString build READ build CONSTANT)

public:
    // The sound server defaults to the desktop's and the clock to the system's; tests and the
    // screenshot tour hand in their own.
    explicit AppContext(const BackendOverride &override,
                        std::unique_ptr<AudioSystem> audioSystem = {},
                        std::unique_ptr<Clock> clock = {}, QObject *parent = nullptr);
    ~AppContext() override;

    // Makes this the App singleton of the engine's screens; before the first load.
    void exposeTo(QQmlEngine *engine);
    static QUrl mainScreenUrl();
    // The singleton factory: the context the engine was handed.
    static AppContext *create(QQmlEngine *engine, QJSEngine *);

    // The main window appeared: the admin key is filled or dropped, the controller learns who is
    // signed in, refreshes its devices and permissions without asking and, the first time only,
    // looks for sessions a crash cut off.
    Q_INVOKABLE void mainWindowShown();
    // The window's place and size are restored now and stored when it closes.
    Q_INVOKABLE void rememberGeometry(QWindow *window);

    // "Kirjaudu ulos": asks first while a recording is active, stops and saves it, then signs
    // out; the next user sees nothing of this one's screens.
    Q_INVOKABLE void signOut();
    // The window's close while a recording is active: asks, stops and saves, then quits.
    Q_INVOKABLE bool isRecordingActive() const;
    Q_INVOKABLE void closeAfterRecording();
    // "Poista" / "Poista kaikki" after a second look.
    Q_INVOKABLE void confirmDeleteSession(const QString &id);
    Q_INVOKABLE void confirmDeleteAllSessions();
    // Shows "Yhteys ei ole salattu" beside an address.
    Q_INVOKABLE bool isUnencryptedRemote(const QString &address) const;
    RecordingShutdown *shutdown() const { return m_shutdown.get(); }

    AuthManager *auth() const { return m_auth.get(); }
    QtDesktopServices *desktop() const { return m_desktop.get(); }
    SecureSettings *settings() const { return m_settings.get(); }
    Clock *clock() const { return m_clock.get(); }
    TranscriptionViewModel *transcription() const { return m_transcription.get(); }
    PasswordResetFlow *passwordReset() const { return m_passwordReset.get(); }
    ChangePasswordFlow *changePassword() const { return m_changePassword.get(); }
    AdminPanel *adminPanel() const { return m_adminPanel.get(); }
    RecordingMonitor *monitor() const { return m_monitor.get(); }
    ColorScheme *colorScheme() const { return m_colorScheme.get(); }
    SessionSearchModel *sessionSearch() const { return m_sessionSearch.get(); }
    static QString version();
    static QString build();

    // The in-app user administration is offered only when this is exactly "1".
    static bool adminFeatureEnabled();

private:
    void pushAuthContext();
    void forgetSignedOutUser();
    QCoro::Task<> runSignOut();
    QCoro::Task<> runClose();
    QCoro::Task<> runConfirmDelete(QString id);
    void recordingEndedByItself(const QString &status);

    std::unique_ptr<SecureSettings> m_settings;
    std::unique_ptr<Clock> m_clock;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<QtDesktopServices> m_desktop;
    std::unique_ptr<AuthManager> m_auth;
    std::unique_ptr<PasswordResetFlow> m_passwordReset;
    std::unique_ptr<ChangePasswordFlow> m_changePassword;
    std::unique_ptr<AdminPanel> m_adminPanel;
    std::unique_ptr<STTConfigurationStore> m_configStore;
    std::unique_ptr<SessionHistoryStore> m_historyStore;
    std::unique_ptr<SessionSearchIndex> m_searchIndex;
    std::unique_ptr<SessionSearchModel> m_sessionSearch;
    std::unique_ptr<STTAPIClient> m_apiClient;
    std::unique_ptr<AudioSystem> m_audioSystem;
    std::unique_ptr<MicrophoneCapture> m_microphone;
    std::unique_ptr<SystemAudioCapture> m_systemAudio;
    std::unique_ptr<TranscriptionViewModel> m_transcription;
    std::unique_ptr<RecordingShutdown> m_shutdown;
    std::unique_ptr<PendingDeletionRetry> m_deletionRetry;
    std::unique_ptr<RecordingMonitor> m_monitor;
    std::unique_ptr<ColorScheme> m_colorScheme;
    std::unique_ptr<DesktopNotifier> m_notifier;
};

// Applies command-line addresses to the stored settings.
void applyBackendOverride(SecureSettings *settings, const BackendOverride &override);

} // namespace vernalo
