#pragma once

#include "ports/audio_system.h"

#include <qcoro/qcorotask.h>

#include <memory>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QQmlContext;

namespace vernalo {

class AuthManager;
class ChangePasswordFlow;
class Clock;
class PasswordResetFlow;
class AdminPanel;

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

// Owns the long-lived objects of one application run and hands them to the screens.
class AppContext : public QObject
{
    Q_OBJECT
public:
    // The sound server defaults to the desktop's and the clock to the system's; tests and the
    // screenshot tour hand in their own.
    explicit AppContext(const BackendOverride &override,
                        std::unique_ptr<AudioSystem> audioSystem = {},
                        std::unique_ptr<Clock> clock = {}, QObject *parent = nullptr);
    ~AppContext() override;

    void exposeTo(QQmlContext *context);

    // The main window appeared: the admin key is filled or dropped, the controller learns who is
    // signed in, refreshes its devices and permissions without asking and, the first time only,
    // looks for sessions a crash cut off.
    Q_INVOKABLE void mainWindowShown();

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

    // The in-app user administration is offered only when this is exactly "1".
    static bool adminFeatureEnabled();

private:
    void pushAuthContext();
    void forgetSignedOutUser();
    QCoro::Task<> runSignOut();
    QCoro::Task<> runClose();
    QCoro::Task<> runConfirmDelete(QString id);

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
};

// Applies command-line addresses to the stored settings.
void applyBackendOverride(SecureSettings *settings, const BackendOverride &override);

} // namespace vernalo
