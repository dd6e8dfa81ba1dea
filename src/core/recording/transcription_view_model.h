#pragma once

#include "backend/websocket_stream_client.h"
#include "diagnostics/diagnostic_export_payload.h"
#include "recording/capture_rig.h"
#include "recording/capture_sources.h"
#include "recording/history_state.h"
#include "recording/job_slot.h"
#include "recording/recording_permissions.h"
#include "recording/recording_phase.h"
#include "recording/recording_plans.h"
#include "recording/recording_settings.h"
#include "recording/support_state.h"
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
#include <QUuid>

namespace vernalo {

class AudioSystem;
class Clock;
class DesktopServices;
class MicrophoneCapture;
class OutgoingAudioPipeline;
class SessionHistoryStore;
class STTAPIClient;
class STTConfigurationStore;
class StatusLine;
class SystemAudioCapture;
class Timer;

// The one recording controller the screens bind to. It runs a recording from start to stop
// (permissions, backend session, live stream, capture, keep-alive, pollers, the stop with its
// final fetch, save and export) and assembles the live transcript. What the other screens show
// lives in topic objects it owns: settings, sources, permissions, history and support; the
// actions that change them are called here, so one object drives them all.
//
// Main thread only. Long steps are coroutines that hold the controller weakly: each checks that
// the controller still exists after every wait, and that the recording (generation) and its job
// ticket are still current, so a late answer of an older recording is dropped, never merged.
//
// The methods live in files by topic: lifecycle, capture, transcript, pause, health, audio
// test, settings, sources, history, deletion, recovery, outputs, memo and diagnostics.
class TranscriptionViewModel : public QObject
{
    Q_OBJECT

    Q_PROPERTY(vernalo::RecordingSettings *settings READ settings CONSTANT)
    Q_PROPERTY(vernalo::CaptureSources *sources READ sources CONSTANT)
    Q_PROPERTY(vernalo::RecordingPermissions *permissions READ permissions CONSTANT)
    Q_PROPERTY(vernalo::HistoryState *history READ history CONSTANT)
    Q_PROPERTY(vernalo::SupportState *support READ support CONSTANT)

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
    // "Audio <sent> • mic <frames>/<peak> • sys ... • mixDrop m:<n> s:<n>", shown while recording.
    Q_PROPERTY(QString realtimeDiagnosticsLabel READ realtimeDiagnosticsLabel NOTIFY
                   realtimeDiagnosticsLabelChanged)

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

    RecordingSettings *settings() const { return m_settings; }
    CaptureSources *sources() const { return m_sources; }
    RecordingPermissions *permissions() const { return m_permissions; }
    HistoryState *history() const { return m_history; }
    SupportState *support() const { return m_support; }
    const STTConfiguration &configuration() const;

    // Recording (lifecycle, pause).
    Q_INVOKABLE void startRecording();
    Q_INVOKABLE void stopRecording();
    Q_INVOKABLE void pauseRecording();
    Q_INVOKABLE void resumeRecording();
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
    // The chosen microphone (or the automatic choice and its recommendation), the device in use
    // while capturing, and the microphone permission summary.
    QString micStatusLabel() const;
    // The chosen system-audio display by name, or the automatic choice.
    QString selectedSystemDisplayName() const;

    // History, deletion and recovery.
    Q_INVOKABLE void refreshSessionHistory();
    Q_INVOKABLE void loadSession(const QString &id);
    Q_INVOKABLE void loadSelectedSession();
    Q_INVOKABLE void deleteSession(const QString &id);
    Q_INVOKABLE void deleteAllSessions();
    // The quiet start-up run; only the first call of a process does anything.
    Q_INVOKABLE void runStartupCrashRecoveryIfNeeded();
    Q_INVOKABLE void restoreLatestCrashedSessionFromDiagnostics();
    // Sessions deleted here whose server deletion failed; recovery never brings them back.
    QStringList pendingServerDeletions() const;
    static constexpr auto kPendingServerDeletionsKey = "vernalo.pendingServerDeletions";
    // Who deleted each pending session: only that user's token may delete it on the server.
    static constexpr auto kPendingServerDeletionOwnersKey = "vernalo.pendingServerDeletionOwners";
    // The e-mail of the signed-in user; empty when nobody is.
    QString signedInUser() const { return m_signedInUser; }

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

    // Support: audio test, memo and diagnostics.
    // Five seconds of the chosen sources without a backend session; nothing is sent.
    Q_INVOKABLE void runAudioQualityTest();
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
    // Secrets the controller does not hold itself (passwords typed into the auth screens) that
    // must never leave in a diagnostics package.
    void setDiagnosticSecretsProvider(std::function<QStringList()> provider)
    {
        m_diagnosticSecretsProvider = std::move(provider);
    }

    // Property readers.
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
    QString realtimeDiagnosticsLabel() const;
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
    // The metadata of the latest health evaluation of this recording; none before the first.
    const std::optional<SessionMetaResponse> &lastHealthMeta() const { return m_lastHealthMeta; }

Q_SIGNALS:
    void recordingStateChanged();
    void canSaveChanged();
    void statusTextChanged();
    void diagnosticHintChanged();
    void pauseElapsedLabelChanged();
    void fallbackNoticeVisibleChanged();
    void realtimeDiagnosticsLabelChanged();
    void interimTextChanged();
    void transcriptChanged();
    void sessionIdChanged();
    void receiptTimesChanged();
    void audioLevelsChanged();
    // The automatic switch to the mixed mode wants a diagnostics file of the failed source, at
    // most once per recording. Connect it directly: the once-flag is set when the emit returns.
    void fallbackDiagnosticsRequested(const QString &reason);

private:
    struct StreamClientDeleter
    {
        void operator()(WebSocketStreamClient *client) const;
    };
    using StreamClientPtr = std::unique_ptr<WebSocketStreamClient, StreamClientDeleter>;

    // Lifecycle (view_model_lifecycle.cpp).
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
    // The one way out of starting, live, paused and resuming: pending starts and resumes go
    // stale, capture ends, and all but a user stop drop the stream and the pollers at once.
    void leaveLive(LeaveReason reason);

    // Capture (view_model_capture.cpp).
    QCoro::Task<bool> ensurePermissionsForMode(AudioInputMode mode);
    void activateLiveCapture(AudioInputMode mode, WebSocketStreamClient *client,
                             const CaptureSelection &selection);
    void deactivateLiveCapture();
    void disposeStreamClient();

    // Transcript (view_model_transcript.cpp).
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

    // Pause (view_model_pause.cpp). A start resets the tracking, an end stops it.
    QCoro::Task<> runResumeCheck(QUuid attemptID, QString sessionId, STTConfiguration config);
    void handleResumeRecordingTimeout();
    void startPauseTracking();
    void updatePauseElapsedLabel();
    void resetPauseTracking();
    void stopPauseTracking();

    // Health and repairs (view_model_health.cpp).
    void initHealthSupervision();
    void resetHealthSupervision();
    void scheduleMicrophoneLivenessCheck(AudioInputMode mode, const QString &reason);
    QCoro::Task<> runMicrophoneLivenessCheck(AudioInputMode mode, QString reason,
                                             JobSlot::Ticket ticket, quint64 generation,
                                             QString sessionId, int framesAtSchedule);
    void evaluateAudioHealth(const SessionMetaResponse &meta);
    // A stable microphone other than the current one; none when there is none or the switch
    // was tried in this recording.
    std::optional<AudioInputDeviceOption> stableMicrophoneCandidate() const;
    bool attemptStableMicrophoneFallback(const QString &trigger, AudioInputMode mode);
    void attemptMixedMicrophoneRestart(const QString &trigger);
    void attemptSystemAudioFallback(const QString &trigger);
    QCoro::Task<> runSystemAudioFallback(quint64 generation);
    // announce: write the restart's own status and hint (a caller may have written better ones).
    bool restartMicrophoneCapture(AudioInputMode mode, const QString &reason, bool announce = true);
    // The switch of the live microphone belongs to the audio health supervision.
    void restartMicrophoneCaptureForLiveDeviceChange(quint32 id);
    QCoro::Task<> runLiveMicrophoneChange(AudioInputMode targetMode, quint64 generation);
    // The listed name of the selection, else the device the microphone opened.
    QString selectedInputDeviceName() const;
    // The recording can take a repair: live, unpaused, with its stream, and still `generation`.
    bool canRepairRecording(quint64 generation) const;
    void setLiveInputMode(AudioInputMode mode);
    void noteMicrophoneHeard();
    // A heard microphone silent for a long stretch: a hint and a log line, never a switch.
    bool isLongMicrophoneSilence(bool quiet);
    bool isMicrophoneMuted();
    // Capture that ends by itself, and the sound server going away and coming back.
    void handleCaptureEnded(CaptureSource source, const AudioServerError &error);
    void handleSoundServerLost();
    QCoro::Task<> resumeCaptureAfterServerBack(JobSlot::Ticket ticket, quint64 generation);

    // Audio test (view_model_audio_test.cpp).
    QCoro::Task<> runAudioTest(AudioInputMode mode, CaptureSelection selection,
                               JobSlot::Ticket ticket);

    // Settings and sources (view_model_settings.cpp, view_model_sources.cpp).
    void loadConfiguration();
    STTConfiguration &currentConfig();
    const STTConfiguration &currentConfig() const { return configuration(); }
    QCoro::Task<> runConnectionTest(STTConfiguration config);
    void storeSelectedInputDevice(quint32 id);

    // History, deletion and recovery (view_model_history.cpp, view_model_deletion.cpp,
    // view_model_recovery.cpp).
    // Stores a finished recording; the error text for the log when it could not be written.
    std::optional<QString> saveFinishedSession(const FinishPlan &plan,
                                               const QList<TranscriptSegment> &segments);
    // The status line of the automatic export; empty when it did nothing.
    QString autoExportAfterStopIfEnabled(const TranscriptSnapshot &snapshot);
    QCoro::Task<> runDeleteSession(QString id, STTConfiguration config);
    QCoro::Task<> runDeleteAllSessions(QStringList ids, STTConfiguration config);
    QCoro::Task<> recoverStoppedSessionsFromServer(int fetchLimit, int importLimit,
                                                   bool startupMode);
    void notePendingServerDeletions(const QStringList &failed, const QStringList &succeeded);

    // Outputs and prompts (view_model_outputs.cpp).
    enum class PromptedSetting { BackendURL, APIKey, UpdateManifestURL };
    QCoro::Task<> runSettingPrompt(PromptedSetting setting);
    void storePromptedSetting(PromptedSetting setting, const QString &value);
    QCoro::Task<> runSaveTranscript();
    QCoro::Task<> runUpdateCheck(QString manifestAddress);

    // Memo and diagnostics (view_model_memo.cpp, view_model_diagnostics.cpp).
    QCoro::Task<> runSummaryGeneration(STTConfiguration config, QString sessionId,
                                       QList<SummaryGenerateRequest::Segment> segments);
    QCoro::Task<> runDiagnosticsExport(STTConfiguration config, QString sessionId);
    QCoro::Task<> runAutoDiagnosticsExport(QString slug,
                                           std::optional<SessionMetaResponse> sessionMeta,
                                           STTConfiguration config, QString sessionId);
    QStringList diagnosticSecrets() const;
    QString diagnosticsDirectory() const;
    std::optional<QString> resolveLatestDiagnosticsForAction();

    // Published fields (transcription_view_model.cpp).
    void setStatusText(const QString &text);
    void setDiagnosticHint(const QString &hint);
    void setInterimText(const QString &text);
    void setSessionId(const QString &id);
    void setPhase(RecordingPhase phase);
    void setFallbackNoticeVisible(bool visible);
    void setPauseElapsedLabel(const QString &label);
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
    QString m_runningVersion;
    QString m_signedInUser;
    std::function<QStringList()> m_diagnosticSecretsProvider;

    // Topics.
    StatusLine *m_status;
    RecordingSettings *m_settings;
    CaptureSources *m_sources;
    RecordingPermissions *m_permissions;
    HistoryState *m_history;
    SupportState *m_support;

    // Recording state. The generation grows with every start, so work that belongs to an older
    // recording can tell.
    RecordingPhase m_phase = RecordingPhase::Idle;
    QString m_pauseElapsedLabel;
    bool m_fallbackNoticeVisible = false;
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
    JobSlot m_captureResume;
    CaptureRig *m_rig;
    OutgoingAudioPipeline *m_pipeline; // the rig's
    AudioHealthState m_health;
    std::optional<SessionMetaResponse> m_lastHealthMeta;
    std::optional<QDateTime> m_pauseStartedAt;
    double m_accumulatedPausedDuration = 0;
    Timer *m_pauseTicker = nullptr;
    bool m_hasAttemptedStartupCrashRecovery = false;

    // The transcript.
    TranscriptSegmentModel *m_segments;
    QString m_interimText;
    QString m_sessionId;
    QDateTime m_lastPartialReceivedAt;
    QDateTime m_lastFinalReceivedAt;
    QDateTime m_lastSessionMetaReceivedAt;
};

} // namespace vernalo
