#pragma once

#include "audio/capture_errors.h"
#include "audio/capture_permissions.h"
#include "backend/websocket_stream_client.h"
#include "diagnostics/diagnostic_export_payload.h"
#include "foundation/models.h"
#include "foundation/stt_configuration.h"
#include "recording/capture_rig.h"
#include "recording/job_slot.h"
#include "recording/recording_permissions.h"
#include "recording/recording_phase.h"
#include "recording/session_history_model.h"
#include "recording/transcript_segment_model.h"
#include "sessions/transcript_export.h"
#include "wire/session_records.h"
#include "wire/stream_event.h"
#include "wire/summary_records.h"

#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QUuid>
#include <QVariantList>
#include <QVariantMap>

namespace vernalo {

class AudioSystem;
class Clock;
class DesktopServices;
class MicrophoneCapture;
class OutgoingAudioPipeline;
class SessionHistoryStore;
class STTAPIClient;
class STTConfigurationStore;
class SystemAudioCapture;
class StatusLine;
class Timer;

// The one recording controller the screens bind to. It runs a recording from start to stop
// (permissions, backend session, live stream, capture, keep-alive, pollers, the stop with its
// final fetch, save and export), assembles the live transcript, mirrors the configuration into
// the settings screen and keeps the source pickers, permissions and history list current.
//
// Main thread only. Every published field below is a property with a change signal; lists that
// grow during a recording are list models (segments, sessionHistory), short pick lists are
// QVariantLists of maps. Long steps are coroutines that hold the controller weakly: each checks
// that the controller still exists after every wait, and that the recording (generation) and
// its job ticket it belongs to are still current, so a late answer of an older recording is
// dropped, never merged.
//
// The methods live in files by topic: lifecycle (start, stop, keep-alive, time-out), capture
// (sources and pipeline wiring), transcript (stream events, pollers, remote stop), settings,
// sources, permissions and history.
class TranscriptionViewModel : public QObject
{
    Q_OBJECT

    // Settings mirrored from the configuration.
    Q_PROPERTY(QVariantMap config READ configMap NOTIFY configChanged)
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(QString sttModel READ sttModel WRITE setSttModel NOTIFY sttModelChanged)
    Q_PROPERTY(QStringList availableLanguages READ availableLanguages CONSTANT)
    Q_PROPERTY(QStringList availableModels READ availableModels CONSTANT)

    // Capture sources. Options are maps: devices {id, name, isVirtual}, displays {id, name},
    // applications {id, name, bundleIdentifier}.
    Q_PROPERTY(
        QVariantList availableInputDevices READ availableInputDeviceList NOTIFY inputDevicesChanged)
    Q_PROPERTY(
        uint selectedInputDeviceID READ selectedInputDeviceID NOTIFY selectedInputDeviceIDChanged)
    Q_PROPERTY(QString recommendedInputDeviceName READ recommendedInputDeviceName NOTIFY
                   inputDevicesChanged)
    Q_PROPERTY(QVariantList availableSystemDisplays READ availableSystemDisplayList NOTIFY
                   systemSourcesChanged)
    Q_PROPERTY(QVariantList availableSystemApplications READ availableSystemApplicationList NOTIFY
                   systemSourcesChanged)
    Q_PROPERTY(uint selectedSystemDisplayID READ selectedSystemDisplayID NOTIFY
                   selectedSystemSourceChanged)
    Q_PROPERTY(QString selectedSystemApplicationBundleID READ selectedSystemApplicationBundleID
                   NOTIFY selectedSystemSourceChanged)
    // Raw values: "microphone", "systemAudio", "microphoneAndSystem"; "txt", "json", "csv".
    Q_PROPERTY(QString inputMode READ inputModeName WRITE setInputModeName NOTIFY inputModeChanged)
    Q_PROPERTY(QString exportFormat READ exportFormatName WRITE setExportFormatName NOTIFY
                   exportFormatChanged)
    Q_PROPERTY(bool autoExportEnabled READ autoExportEnabled WRITE setAutoExportEnabled NOTIFY
                   autoExportEnabledChanged)
    Q_PROPERTY(bool allowSystemFallback READ allowSystemFallback WRITE setAllowSystemFallback NOTIFY
                   allowSystemFallbackChanged)

    // Mixing of both sources; the preset is a raw value ("meeting", ..., "custom").
    Q_PROPERTY(double mixedMicGain READ mixedMicGain WRITE setMixedMicGain NOTIFY mixingChanged)
    Q_PROPERTY(
        double mixedSystemGain READ mixedSystemGain WRITE setMixedSystemGain NOTIFY mixingChanged)
    Q_PROPERTY(bool mixedAutoDuckEnabled READ mixedAutoDuckEnabled WRITE setMixedAutoDuckEnabled
                   NOTIFY mixingChanged)
    Q_PROPERTY(bool mixedLimiterEnabled READ mixedLimiterEnabled WRITE setMixedLimiterEnabled NOTIFY
                   mixingChanged)
    Q_PROPERTY(double mixedDuckingStrength READ mixedDuckingStrength WRITE setMixedDuckingStrength
                   NOTIFY mixingChanged)
    Q_PROPERTY(QString mixedPreset READ mixedPresetName NOTIFY mixingChanged)

    // Recording state and the gates of the controls.
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY recordingStateChanged)
    Q_PROPERTY(bool isStartingRecording READ isStartingRecording NOTIFY recordingStateChanged)
    Q_PROPERTY(bool isResumingRecording READ isResumingRecording NOTIFY recordingStateChanged)
    Q_PROPERTY(bool isPaused READ isPaused NOTIFY recordingStateChanged)
    // The stop sequence (final fetch, backend stop, save, export) is still running.
    Q_PROPERTY(bool isStoppingRecording READ isStoppingRecording NOTIFY recordingStateChanged)
    Q_PROPERTY(bool canStart READ canStart NOTIFY recordingStateChanged)
    Q_PROPERTY(bool canStop READ canStop NOTIFY recordingStateChanged)
    Q_PROPERTY(bool canPause READ canPause NOTIFY recordingStateChanged)
    Q_PROPERTY(bool canResume READ canResume NOTIFY recordingStateChanged)
    Q_PROPERTY(bool canSave READ canSave NOTIFY canSaveChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString diagnosticHint READ diagnosticHint NOTIFY diagnosticHintChanged)
    Q_PROPERTY(QString pauseElapsedLabel READ pauseElapsedLabel NOTIFY pauseElapsedLabelChanged)
    Q_PROPERTY(
        bool fallbackNoticeVisible READ fallbackNoticeVisible NOTIFY fallbackNoticeVisibleChanged)

    // The transcript.
    Q_PROPERTY(QString interimText READ interimText NOTIFY interimTextChanged)
    Q_PROPERTY(vernalo::TranscriptSegmentModel *segments READ segmentModel CONSTANT)
    Q_PROPERTY(QString transcriptText READ transcriptText NOTIFY transcriptChanged)
    Q_PROPERTY(QString sessionId READ sessionId NOTIFY sessionIdChanged)
    Q_PROPERTY(
        QDateTime lastPartialReceivedAt READ lastPartialReceivedAt NOTIFY receiptTimesChanged)
    Q_PROPERTY(QDateTime lastFinalReceivedAt READ lastFinalReceivedAt NOTIFY receiptTimesChanged)
    Q_PROPERTY(QDateTime lastSessionMetaReceivedAt READ lastSessionMetaReceivedAt NOTIFY
                   receiptTimesChanged)

    // Audio going out.
    Q_PROPERTY(int audioFramesSent READ audioFramesSent NOTIFY audioLevelsChanged)
    Q_PROPERTY(double outgoingAudioLevel READ outgoingAudioLevel NOTIFY audioLevelsChanged)
    Q_PROPERTY(double outgoingAudioPeak READ outgoingAudioPeak NOTIFY audioLevelsChanged)

    // History.
    Q_PROPERTY(vernalo::SessionHistoryModel *sessionHistory READ sessionHistoryModel CONSTANT)
    Q_PROPERTY(QString selectedSessionHistoryId READ selectedSessionHistoryId WRITE
                   setSelectedSessionHistoryId NOTIFY selectedSessionHistoryIdChanged)

    // Capture permissions.
    Q_PROPERTY(vernalo::RecordingPermissions *permissions READ permissions CONSTANT)

    // Set by the audio test, diagnostics, memo and crash-recovery actions.
    Q_PROPERTY(bool isAudioTestRunning READ isAudioTestRunning NOTIFY isAudioTestRunningChanged)
    Q_PROPERTY(QString lastDiagnosticsFileName READ lastDiagnosticsFileName NOTIFY
                   lastDiagnosticsFileNameChanged)
    Q_PROPERTY(
        QString memoAIBackendStatus READ memoAIBackendStatus NOTIFY memoAIBackendStatusChanged)
    Q_PROPERTY(bool isCrashRecoveryRunning READ isCrashRecoveryRunning NOTIFY
                   isCrashRecoveryRunningChanged)

public:
    // What the controller works with. None is owned; all must outlive the controller.
    struct Collaborators
    {
        STTConfigurationStore *configStore = nullptr;
        SessionHistoryStore *historyStore = nullptr;
        STTAPIClient *apiClient = nullptr;
        StreamClientFactory streamClientFactory; // one fresh stream client per recording
        MicrophoneCapture *microphone = nullptr;
        SystemAudioCapture *systemAudio = nullptr;
        AudioSystem *audioSystem = nullptr;
        DesktopServices *desktop = nullptr;
        Clock *clock = nullptr;
        // Where the automatic export writes; empty: the downloads folder.
        QString autoExportDirectory;
    };

    // Loads the configuration, lists the microphones, takes both permission snapshots without
    // asking and loads the history, in that order.
    explicit TranscriptionViewModel(Collaborators collaborators, QObject *parent = nullptr);
    ~TranscriptionViewModel() override;

    // Recording.
    Q_INVOKABLE void startRecording();
    Q_INVOKABLE void stopRecording();
    // Applies one event of the live stream (the stream client's handler calls this).
    void handleStreamEvent(const StreamEvent &event);
    Q_INVOKABLE void clearTranscript();
    // After sign-out: nothing of the last user's recording stays on screen (the history stays).
    void clearForNextUser();

    // Settings.
    Q_INVOKABLE void saveConfig(bool showStatus);
    Q_INVOKABLE void applyMixPreset(const QString &preset);
    // The signed-in user's backend token goes along with every later request. `user` is the
    // auth session's current user as the screens hold it (a map with "email", or null).
    Q_INVOKABLE void updateAuthContext(const QVariant &user, const QString &sessionToken);
    Q_INVOKABLE void testBackendConnection();

    // Sources.
    Q_INVOKABLE void refreshInputDevices();
    Q_INVOKABLE void setPreferredInputDevice(uint id);
    Q_INVOKABLE void refreshSystemAudioDisplays();
    Q_INVOKABLE void refreshSystemAudioApplications();
    Q_INVOKABLE void setPreferredSystemDisplay(uint id);
    Q_INVOKABLE void setPreferredSystemApplication(const QString &bundleIdentifier);

    // History.
    Q_INVOKABLE void refreshSessionHistory();
    Q_INVOKABLE void loadSession(const QString &id);
    Q_INVOKABLE void loadSelectedSession();

    // Outputs and prompts.
    Q_INVOKABLE void promptForBackendURL();
    Q_INVOKABLE void promptForAPIKey();
    Q_INVOKABLE void promptForUpdateManifestURL();
    Q_INVOKABLE void useDefaultBackendURL();
    Q_INVOKABLE void useDefaultSharedAPIKey();
    Q_INVOKABLE void useDefaultUpdateManifestURL();
    Q_INVOKABLE void useAPIKeyFromClipboard();
    Q_INVOKABLE void saveTranscript();
    Q_INVOKABLE void copyTranscriptToClipboard();
    Q_INVOKABLE void copySessionIdToClipboard();
    Q_INVOKABLE void checkForUpdates();
    Q_INVOKABLE int compareSemanticVersion(const QString &a, const QString &b) const;
    Q_INVOKABLE QString currentAppVersion() const;
    // The version the update check compares against; the build's own by default.
    void setRunningVersionForUpdates(const QString &version) { m_runningVersion = version; }

    // Deletion and recovery.
    Q_INVOKABLE void deleteSession(const QString &id);
    Q_INVOKABLE void deleteAllSessions();
    // The quiet start-up run; only the first call of a process does anything.
    Q_INVOKABLE void runStartupCrashRecoveryIfNeeded();
    Q_INVOKABLE void restoreLatestCrashedSessionFromDiagnostics();
    // Sessions deleted here whose server deletion failed; recovery never brings them back.
    QStringList pendingServerDeletions() const;
    static constexpr auto kPendingServerDeletionsKey = "vernalo.pendingServerDeletions";
    // A deletion runs: of one session, or of every listed one.
    Q_PROPERTY(bool isDeletingSessions READ isDeletingSessions NOTIFY deletionStateChanged)
    Q_PROPERTY(bool isDeletingAllSessions READ isDeletingAllSessions NOTIFY deletionStateChanged)
    bool isDeletingSessions() const { return m_deletionJobs > 0; }
    bool isDeletingAllSessions() const { return m_isDeletingAllSessions; }
Q_SIGNALS:
    void deletionStateChanged();

public:
    // Memo and diagnostics.
    // A memo request runs (generation may take up to 15 minutes); more than one may.
    Q_PROPERTY(bool isGeneratingSummary READ isGeneratingSummary NOTIFY isGeneratingSummaryChanged)
    // A diagnostics package or automatic diagnostics file is being made.
    Q_PROPERTY(bool isExportingDiagnostics READ isExportingDiagnostics NOTIFY
                   isExportingDiagnosticsChanged)
    // Share of the listed sessions a crash recovery run has gone through, 0 to 1.
    Q_PROPERTY(
        double crashRecoveryProgress READ crashRecoveryProgress NOTIFY crashRecoveryProgressChanged)

public:
    // Asks the backend for the memo of the current session, downloads it and offers to save it.
    Q_INVOKABLE void generateSummaryDocx();
    // The transcript on screen as the memo request's fallback, one entry per segment.
    QList<SummaryGenerateRequest::Segment> makeSummaryFallbackSegments() const;

    // Fetches the server's view of the session, packs everything into a zip and offers to save
    // it. A second press while one is being made is ignored.
    Q_INVOKABLE void exportDiagnosticsPackage();
    DiagnosticExportPayload
    makeDiagnosticPayload(const std::optional<SessionMetaResponse> &sessionMeta,
                          const std::optional<ServerTranscriptResponse> &transcript) const;
    // Writes the record as JSON into the downloads folder; once per recording, whatever the
    // outcome. Callable on its own (the system-audio fallback calls it).
    void autoExportFallbackDiagnostics(const QString &reason,
                                       const std::optional<SessionMetaResponse> &sessionMeta);
    // The newest "vernalo-diagnoosi*.zip|.json" in the downloads folder.
    std::optional<QString> latestDiagnosticsFromDownloads() const;
    // The last file written or shown, while it exists; otherwise the newest in downloads.
    std::optional<QString> resolveLatestDiagnosticsPath() const;
    Q_INVOKABLE void openLatestDiagnostics();
    Q_INVOKABLE void revealLatestDiagnosticsInFileManager();
    Q_INVOKABLE void copyDiagnosticsSupportTemplate();
    // Path of the last diagnostics file written or shown; empty when none.
    QString lastDiagnosticsPath() const { return m_lastDiagnosticsPath; }
    // The chosen microphone (or the automatic choice and its recommendation), the device in use
    // while capturing, and the microphone permission summary.
    QString micStatusLabel() const;
    // The chosen system-audio display by name, or the automatic choice.
    QString selectedSystemDisplayName() const;
    // Secrets the controller does not hold itself (passwords typed into the auth screens) that
    // must never leave in a diagnostics package.
    void setDiagnosticSecretsProvider(std::function<QStringList()> provider)
    {
        m_diagnosticSecretsProvider = std::move(provider);
    }
    bool isGeneratingSummary() const { return m_summaryJobs > 0; }
    bool isExportingDiagnostics() const
    {
        return m_isExportingDiagnosticsPackage || m_autoDiagnosticsJobs > 0;
    }
    double crashRecoveryProgress() const { return m_crashRecoveryProgress; }

Q_SIGNALS:
    void isGeneratingSummaryChanged();
    void isExportingDiagnosticsChanged();
    void crashRecoveryProgressChanged();

private:
    QCoro::Task<> runSummaryGeneration(STTConfiguration config, QString sessionId,
                                       QList<SummaryGenerateRequest::Segment> segments);
    QCoro::Task<> runDiagnosticsExport(STTConfiguration config, QString sessionId);
    QCoro::Task<> runAutoDiagnosticsExport(QString slug,
                                           std::optional<SessionMetaResponse> sessionMeta,
                                           STTConfiguration config, QString sessionId);
    void changeSummaryJobs(int delta);
    void setExportingDiagnosticsPackage(bool exporting);
    void changeAutoDiagnosticsJobs(int delta);
    void setCrashRecoveryProgress(double progress);
    QStringList diagnosticSecrets() const;
    QString diagnosticsDirectory() const;
    void rememberDiagnosticsFile(const QString &path);
    std::optional<QString> resolveLatestDiagnosticsForAction();

    int m_summaryJobs = 0;
    bool m_isExportingDiagnosticsPackage = false;
    int m_autoDiagnosticsJobs = 0;
    double m_crashRecoveryProgress = 0;
    QString m_lastDiagnosticsPath;
    std::function<QStringList()> m_diagnosticSecretsProvider;

public:
    // Property readers.
    QVariantMap configMap() const;
    const STTConfiguration &configuration() const { return m_config; }
    QString language() const { return m_language; }
    QString sttModel() const { return m_sttModel; }
    QStringList availableLanguages() const;
    QStringList availableModels() const;
    const QList<AudioInputDeviceOption> &availableInputDevices() const { return m_inputDevices; }
    QVariantList availableInputDeviceList() const;
    uint selectedInputDeviceID() const { return m_selectedInputDeviceID; }
    QString recommendedInputDeviceName() const { return m_recommendedInputDeviceName; }
    const QList<SystemAudioDisplayOption> &availableSystemDisplays() const { return m_displays; }
    QVariantList availableSystemDisplayList() const;
    const QList<SystemAudioApplicationOption> &availableSystemApplications() const
    {
        return m_applications;
    }
    QVariantList availableSystemApplicationList() const;
    uint selectedSystemDisplayID() const { return m_selectedSystemDisplayID; }
    QString selectedSystemApplicationBundleID() const
    {
        return m_selectedSystemApplicationBundleID;
    }
    AudioInputMode inputMode() const { return m_inputMode; }
    QString inputModeName() const { return rawValue(m_inputMode); }
    TranscriptExportFormat exportFormat() const { return m_exportFormat; }
    QString exportFormatName() const { return rawValue(m_exportFormat); }
    bool autoExportEnabled() const { return m_autoExportEnabled; }
    bool allowSystemFallback() const { return m_allowSystemFallback; }
    double mixedMicGain() const { return m_mix.micGain; }
    double mixedSystemGain() const { return m_mix.systemGain; }
    bool mixedAutoDuckEnabled() const { return m_mix.autoDuckEnabled; }
    bool mixedLimiterEnabled() const { return m_mix.limiterEnabled; }
    double mixedDuckingStrength() const { return m_mix.duckingStrength; }
    MixPreset mixedPreset() const { return m_mixedPreset; }
    QString mixedPresetName() const { return rawValue(m_mixedPreset); }

    RecordingPhase phase() const { return m_phase; }
    bool isRecording() const { return isRecordingPhase(m_phase); }
    bool isStartingRecording() const { return m_phase == RecordingPhase::Starting; }
    bool isResumingRecording() const { return m_phase == RecordingPhase::Resuming; }
    bool isPaused() const { return isPausedPhase(m_phase); }
    bool isStoppingRecording() const { return m_phase == RecordingPhase::Stopping; }
    bool canStart() const;
    bool canStop() const;
    bool canPause() const;
    bool canResume() const;
    bool canSave() const;
    QString statusText() const;
    QString diagnosticHint() const;
    QString pauseElapsedLabel() const { return m_pauseElapsedLabel; }
    bool fallbackNoticeVisible() const { return m_fallbackNoticeVisible; }

    QString interimText() const { return m_interimText; }
    TranscriptSegmentModel *segmentModel() const { return m_segments; }
    const QList<TranscriptSegment> &segments() const { return m_segments->segments(); }
    QString transcriptText() const;
    QString sessionId() const { return m_sessionId; }
    QDateTime lastPartialReceivedAt() const { return m_lastPartialReceivedAt; }
    QDateTime lastFinalReceivedAt() const { return m_lastFinalReceivedAt; }
    QDateTime lastSessionMetaReceivedAt() const { return m_lastSessionMetaReceivedAt; }

    int audioFramesSent() const;
    double outgoingAudioLevel() const;
    double outgoingAudioPeak() const;

    SessionHistoryModel *sessionHistoryModel() const { return m_sessionHistory; }
    QString selectedSessionHistoryId() const { return m_selectedSessionHistoryId; }

    RecordingPermissions *permissions() const { return m_permissions; }

    bool isAudioTestRunning() const { return m_isAudioTestRunning; }
    QString lastDiagnosticsFileName() const { return m_lastDiagnosticsFileName; }
    QString memoAIBackendStatus() const { return m_memoAIBackendStatus; }
    bool isCrashRecoveryRunning() const { return m_isCrashRecoveryRunning; }

    // Property writers of the settings screen. They change what the controller uses; the
    // configuration is stored by saveConfig().
    void setLanguage(const QString &language);
    void setSttModel(const QString &model);
    // Ignored while a recording starts or runs: the running capture keeps its mode.
    void setInputModeName(const QString &raw);
    void setInputMode(AudioInputMode mode);
    void setExportFormatName(const QString &raw);
    void setAutoExportEnabled(bool enabled);
    void setAllowSystemFallback(bool allowed);
    void setMixedMicGain(double gain);
    void setMixedSystemGain(double gain);
    void setMixedAutoDuckEnabled(bool enabled);
    void setMixedLimiterEnabled(bool enabled);
    void setMixedDuckingStrength(double strength);
    void setSelectedSessionHistoryId(const QString &id);

Q_SIGNALS:
    void configChanged();
    void languageChanged();
    void sttModelChanged();
    void inputDevicesChanged();
    void selectedInputDeviceIDChanged();
    void systemSourcesChanged();
    void selectedSystemSourceChanged();
    void inputModeChanged();
    void exportFormatChanged();
    void autoExportEnabledChanged();
    void allowSystemFallbackChanged();
    void mixingChanged();
    void recordingStateChanged();
    void canSaveChanged();
    void statusTextChanged();
    void diagnosticHintChanged();
    void pauseElapsedLabelChanged();
    void fallbackNoticeVisibleChanged();
    void interimTextChanged();
    void transcriptChanged();
    void sessionIdChanged();
    void receiptTimesChanged();
    void audioLevelsChanged();
    void selectedSessionHistoryIdChanged();
    void isAudioTestRunningChanged();
    void lastDiagnosticsFileNameChanged();
    void memoAIBackendStatusChanged();
    void isCrashRecoveryRunningChanged();

private:
    // What a start works with, read once when it is pressed.
    struct StartAttempt
    {
        QUuid id;
        quint64 generation = 0;
        AudioInputMode mode = AudioInputMode::Microphone;
        QString language;
        QString model;
        STTConfiguration config;
        CaptureSelection selection;
    };

    // Why a start failed: the text for the status line and, for capture errors, which kind.
    struct StartFailure
    {
        QString description;
        std::optional<MicrophoneCaptureError::Kind> microphoneError;
        std::optional<SystemAudioCaptureError::Kind> systemAudioError;
    };

    // What the closing steps of a recording work with, captured when it ended. A stop pressed
    // by the user asks the server to finish and stops the backend session; a stop the server
    // or the stream caused does neither.
    struct FinishPlan
    {
        quint64 generation = 0;
        bool userStop = true;
        QString sessionId;
        QList<TranscriptSegment> segmentsAtStop;
        QDateTime startedAt;
        QString language;
        QString model;
        STTConfiguration config;
        AudioInputMode mode = AudioInputMode::Microphone;
    };

    // Once-per-recording repairs and counters of the audio health rules; reset by every start
    // and stop.
    struct AudioHealthState
    {
        int rawWithoutPCMStreak = 0;
        bool hasAttemptedSystemFallback = false;
        bool hasAttemptedMixedMicrophoneRestart = false;
        bool hasAttemptedMicrophoneDeviceFallback = false;
        bool hasAutoExportedFallbackDiagnostics = false;
        // Microphones (source ids) that delivered sound in this recording: never replaced.
        QList<quint32> heardMicrophones;
        // Why the microphone last (re)opened; the liveness check after it names it.
        QString microphoneStartReason = QStringLiteral("start");
        bool microphoneMuteLogged = false;
    };

    struct StreamClientDeleter
    {
        void operator()(WebSocketStreamClient *client) const;
    };
    using StreamClientPtr = std::unique_ptr<WebSocketStreamClient, StreamClientDeleter>;

    // view_model_lifecycle.cpp
    QCoro::Task<> runStartAttempt(StartAttempt attempt);
    void failStart(const StartAttempt &attempt, const StartFailure &failure,
                   const QString &createdSessionId);
    void abandonStart(const StartAttempt &attempt, const QString &createdSessionId,
                      StreamClientPtr client);
    void goLive(const StartAttempt &attempt, const QString &sessionId);
    void scheduleStartRecordingTimeout(const QUuid &attemptID);
    void handleStartRecordingTimeout();
    // What a stop needs of the recording as it stands now.
    FinishPlan makeFinishPlan(bool userStop) const;
    QCoro::Task<> finishRecording(FinishPlan plan, StreamClientPtr client);
    void completeUserStop(const FinishPlan &plan, bool haveSegments, const QString &exportStatus);
    void startAudioKeepAlive();
    void keepAliveTick();
    void setListeningStatus(AudioInputMode mode);
    void resetCaptureState();
    void stopSessionInBackground(const STTConfiguration &config, const QString &sessionId);

    // view_model_capture.cpp
    QCoro::Task<bool> ensurePermissionsForMode(AudioInputMode mode);
    void activateLiveCapture(AudioInputMode mode, WebSocketStreamClient *client,
                             const CaptureSelection &selection);
    void deactivateLiveCapture();
    void disposeStreamClient();
    // The liveness check and the health rules live in view_model_health.cpp.
    void scheduleMicrophoneLivenessCheck(AudioInputMode mode, const QString &reason);
    void evaluateAudioHealth(const SessionMetaResponse &meta);

    // view_model_transcript.cpp
    void applyFinalEvent(const StreamEvent::Final &final);
    void applyStatusEvent(const StreamEvent::Status &status);
    void applyErrorEvent(const StreamEvent::Error &error);
    int mergePolledSegments(const QList<ServerTranscriptResponse::Segment> &polled);
    void startTranscriptPolling(const QString &sessionId, const STTConfiguration &config);
    void startSessionMetaPolling(const QString &sessionId, const STTConfiguration &config);
    QCoro::Task<> runTranscriptPoll(QString sessionId, STTConfiguration config, quint64 generation,
                                    JobSlot::Ticket ticket);
    QCoro::Task<> runSessionMetaPoll(QString sessionId, STTConfiguration config, quint64 generation,
                                     JobSlot::Ticket ticket);
    void applySessionMeta(const SessionMetaResponse &meta);
    void handleRemoteSessionStopped(const std::optional<SessionMetaResponse> &meta,
                                    const QString &reason);
    void cancelRecordingJobs();

    // view_model_settings.cpp
    void loadConfiguration();
    void publishMixSettings(const MixSettings &settings);
    QCoro::Task<> runConnectionTest(STTConfiguration config);

    // view_model_sources.cpp
    void storeSelectedInputDevice(quint32 id);
    // The switch of the live microphone belongs to the audio health supervision.
    void restartMicrophoneCaptureForLiveDeviceChange(quint32 id);

    // view_model_history.cpp
    // Stores a finished recording; the error text for the log when it could not be written.
    std::optional<QString> saveFinishedSession(const FinishPlan &plan,
                                               const QList<TranscriptSegment> &segments);
    // The status line of the automatic export; empty when it did nothing.
    QString autoExportAfterStopIfEnabled(const TranscriptSnapshot &snapshot);

    // Outputs and prompts (view_model_outputs.cpp).
    enum class PromptedSetting { BackendURL, APIKey, UpdateManifestURL };
    QCoro::Task<> runSettingPrompt(PromptedSetting setting);
    void storePromptedSetting(PromptedSetting setting, const QString &value);
    QCoro::Task<> runSaveTranscript();
    QCoro::Task<> runUpdateCheck(QString manifestAddress);
    QString m_runningVersion;

    // Deletion and recovery (view_model_deletion.cpp, view_model_recovery.cpp).
    QCoro::Task<> runDeleteSession(QString id, STTConfiguration config);
    QCoro::Task<> runDeleteAllSessions(QStringList ids, STTConfiguration config);
    QCoro::Task<> recoverStoppedSessionsFromServer(int fetchLimit, int importLimit,
                                                   bool startupMode);
    void setCrashRecoveryRunning(bool running);
    void notePendingServerDeletions(const QStringList &failed, const QStringList &succeeded);
    bool m_hasAttemptedStartupCrashRecovery = false;
    void changeDeletionJobs(int delta, bool all);
    int m_deletionJobs = 0;
    bool m_isDeletingAllSessions = false;

    // transcription_view_model.cpp
    void setStatusText(const QString &text);
    void setDiagnosticHint(const QString &hint);
    void setInterimText(const QString &text);
    void setSessionId(const QString &id);
    void setPhase(RecordingPhase phase);
    // The one way out of starting, live, paused and resuming: pending starts and resumes go
    // stale, capture ends, and all but a user stop drop the stream and the pollers at once.
    void leaveLive(LeaveReason reason);
    void setFallbackNoticeVisible(bool visible);
    void setPauseElapsedLabel(const QString &label);
    void setSelectedInputDeviceID(quint32 id);
    void setSelectedSystemSource(quint32 displayID, const QString &bundleIdentifier);
    // Pause tracking belongs to pause and resume; a start resets it, an end stops it.
    void resetPauseTracking();
    void stopPauseTracking();
    // True while the stop sequence or a start owns the transcript.
    bool isTranscriptBusy() const;

    // Collaborators.
    STTConfigurationStore *m_configStore;
    SessionHistoryStore *m_historyStore;
    STTAPIClient *m_apiClient;
    StreamClientFactory m_streamClientFactory;
    MicrophoneCapture *m_microphone;
    SystemAudioCapture *m_systemAudio;
    AudioSystem *m_audioSystem;
    DesktopServices *m_desktop;
    Clock *m_clock;
    QString m_autoExportDirectory;

    // Settings.
    STTConfiguration m_config;
    QString m_language;
    QString m_sttModel;
    QList<AudioInputDeviceOption> m_inputDevices;
    quint32 m_selectedInputDeviceID = 0;
    QString m_recommendedInputDeviceName;
    QList<SystemAudioDisplayOption> m_displays;
    QList<SystemAudioApplicationOption> m_applications;
    quint32 m_selectedSystemDisplayID = 0;
    QString m_selectedSystemApplicationBundleID;
    AudioInputMode m_inputMode = AudioInputMode::Microphone;
    TranscriptExportFormat m_exportFormat = TranscriptExportFormat::Txt;
    bool m_autoExportEnabled = false;
    bool m_allowSystemFallback = true;
    MixSettings m_mix;
    MixPreset m_mixedPreset = MixPreset::Meeting;

    // Recording state.
    RecordingPhase m_phase = RecordingPhase::Idle;
    QString m_pauseElapsedLabel;
    bool m_fallbackNoticeVisible = false;

    // The current recording. The generation grows with every start, so work that belongs to an
    // older recording can tell.
    quint64 m_generation = 0;
    QUuid m_startAttemptID;
    QUuid m_resumeAttemptID;
    QUuid m_startTimeoutAttemptID;
    STTConfiguration m_startTimeoutConfig;
    QDateTime m_recordingStartedAt;
    StreamClientPtr m_webSocketClient;
    Timer *m_startRecordingTimeout;
    Timer *m_resumeRecordingTimeout;
    Timer *m_audioKeepAlive;
    JobSlot m_transcriptPoll;
    JobSlot m_sessionMetaPoll;
    JobSlot m_microphoneLiveness;
    JobSlot m_audioTest;
    CaptureRig *m_rig;
    OutgoingAudioPipeline *m_pipeline; // the rig's
    AudioHealthState m_health;

    // The transcript.
    TranscriptSegmentModel *m_segments;
    QString m_interimText;
    QString m_sessionId;
    QDateTime m_lastPartialReceivedAt;
    QDateTime m_lastFinalReceivedAt;
    QDateTime m_lastSessionMetaReceivedAt;

    // History.
    SessionHistoryModel *m_sessionHistory;
    QString m_selectedSessionHistoryId;

    // Topics.
    StatusLine *m_status;
    RecordingPermissions *m_permissions;

    // Owned by other actions (audio test, diagnostics, memo, crash recovery).
    bool m_isAudioTestRunning = false;
    QString m_lastDiagnosticsFileName;
    QString m_memoAIBackendStatus;
    bool m_isCrashRecoveryRunning = false;

    // Pause and resume (view_model_pause.cpp).
public:
    Q_INVOKABLE void pauseRecording();
    Q_INVOKABLE void resumeRecording();

private:
    QCoro::Task<> runResumeCheck(QUuid attemptID, QString sessionId, STTConfiguration config);
    void handleResumeRecordingTimeout();
    void startPauseTracking();
    void updatePauseElapsedLabel();

    std::optional<QDateTime> m_pauseStartedAt;
    double m_accumulatedPausedDuration = 0;
    Timer *m_pauseTicker = nullptr;

    // Health and fallbacks (view_model_health.cpp).
    // "Audio <sent> • mic <frames>/<peak> • sys ... • mixDrop m:<n> s:<n>", shown while recording.
    Q_PROPERTY(QString realtimeDiagnosticsLabel READ realtimeDiagnosticsLabel NOTIFY
                   realtimeDiagnosticsLabelChanged)
public:
    QString realtimeDiagnosticsLabel() const;
    // The metadata of the latest health evaluation of this recording; none before the first.
    const std::optional<SessionMetaResponse> &lastHealthMeta() const { return m_lastHealthMeta; }

Q_SIGNALS:
    void realtimeDiagnosticsLabelChanged();
    // The automatic switch to the mixed mode wants a diagnostics file of the failed source, at
    // most once per recording. Connect it directly: the once-flag is set when the emit returns.
    void fallbackDiagnosticsRequested(const QString &reason);

private:
    void initHealthSupervision();
    void resetHealthSupervision();
    QCoro::Task<> runMicrophoneLivenessCheck(AudioInputMode mode, QString reason,
                                             JobSlot::Ticket ticket, quint64 generation,
                                             QString sessionId, int framesAtSchedule);
    // A stable microphone other than the current one; none when there is none or the switch
    // was tried in this recording.
    std::optional<AudioInputDeviceOption> stableMicrophoneCandidate() const;
    bool attemptStableMicrophoneFallback(const QString &trigger, AudioInputMode mode);
    void attemptMixedMicrophoneRestart(const QString &trigger);
    void attemptSystemAudioFallback(const QString &trigger);
    QCoro::Task<> runSystemAudioFallback(quint64 generation);
    // announce: write the restart's own status and hint (a caller may have written better ones).
    bool restartMicrophoneCapture(AudioInputMode mode, const QString &reason, bool announce = true);
    QCoro::Task<> runLiveMicrophoneChange(AudioInputMode targetMode, quint64 generation);
    // The listed name of the selection, else the device the microphone opened.
    QString selectedInputDeviceName() const;
    // The recording can take a repair: live, unpaused, with its stream, and still `generation`.
    bool canRepairRecording(quint64 generation) const;
    void setLiveInputMode(AudioInputMode mode);
    void noteMicrophoneHeard();
    bool isMicrophoneMuted();
    // Capture that ends by itself, and the sound server going away and coming back.
    void handleCaptureEnded(CaptureSource source, const AudioServerError &error);
    void handleSoundServerLost();
    QCoro::Task<> resumeCaptureAfterServerBack(JobSlot::Ticket ticket, quint64 generation);

    std::optional<SessionMetaResponse> m_lastHealthMeta;
    JobSlot m_captureResume;

    // Audio test (view_model_audio_test.cpp).
public:
    // Five seconds of the chosen sources without a backend session; nothing is sent.
    Q_INVOKABLE void runAudioQualityTest();

private:
    QCoro::Task<> runAudioTest(AudioInputMode mode, CaptureSelection selection,
                               JobSlot::Ticket ticket);
    void setAudioTestRunning(bool running);
};

} // namespace vernalo
