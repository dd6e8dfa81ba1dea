// One recording from start to stop: the start with its permission check, backend session,
// stream and capture; the 30-second start time-out; the keep-alive of the stream; the stop and
// the closing steps it shares with a stop the server caused.
#include "audio/capture_source_lists.h"
#include "audio/microphone_capture.h"
#include "audio/outgoing_audio_pipeline.h"
#include "audio/system_audio_capture.h"
#include "backend/stt_api_client.h"
#include "foundation/app_log.h"
#include "ports/audio_system.h"
#include "recording/capture_rig.h"
#include "recording/recording_permissions.h"
#include "recording/recording_rules.h"
#include "recording/transcription_view_model.h"
#include "sessions/session_status_texts.h"
#include "wire/clock.h"

namespace vernalo {

namespace {

using namespace std::chrono_literals;

constexpr auto kStartTimeout = 30s;
constexpr auto kKeepAliveInterval = 900ms;
constexpr auto kFinalSegmentsGrace = 1200ms;
// A stop pressed during an outage waits this long at most for the reconnect to carry it and the
// audio held with it; longer than the reconnect back-off with its answer deadlines.
constexpr auto kHeldStopLimit = 40s;
constexpr auto kHeldStopPoll = 100ms;

// Best effort and never awaited: a stop request that fails leaves the session to the server's
// own idle handling.
QCoro::Task<> stopSessionDetached(STTAPIClient *api, STTConfiguration config, QString sessionId)
{
    co_await api->stopSession(std::move(config), std::move(sessionId));
}

} // namespace

void TranscriptionViewModel::startRecording()
{
    if (m_phase == RecordingPhase::Starting || isRecording())
        return;
    if (m_phase == RecordingPhase::Stopping) {
        // The previous recording is still being saved; a new one would take its transcript.
        AppLog::write(QStringLiteral("startRecording refused stopInProgress=true session=%1")
                          .arg(m_sessionId));
        return;
    }
    if (m_support->isAudioTestRunning()) {
        setStatusText(QStringLiteral("Odota, että äänitesti valmistuu"));
        return;
    }

    ++m_generation;
    setStatusText(QStringLiteral("Yhdistetään..."));
    setPhase(RecordingPhase::Starting);
    setInterimText(QString());
    m_segments->clear();
    cancelRecordingJobs();
    m_audioTest.cancel();
    setSessionId(QString());
    setDiagnosticHint(QString());
    resetCaptureState();
    setFallbackNoticeVisible(false);
    resetPauseTracking();
    m_resumeRecordingTimeout->stop();
    m_resumeAttemptID = QUuid::createUuid();
    m_lastPartialReceivedAt = m_lastFinalReceivedAt = m_lastSessionMetaReceivedAt = QDateTime();
    emit receiptTimesChanged();
    m_recordingStartedAt = m_clock->now();
    m_startRecordingTimeout->stop();
    m_startAttemptID = QUuid::createUuid();

    const AudioInputMode mode = m_settings->inputMode();
    const StableInputSelection stable = stableInputDeviceSelection(
        m_sources->selectedInputDeviceID(), inputDeviceInventory(m_audioSystem->listSources()),
        m_sources->availableInputDevices());
    if (stable.id != m_sources->selectedInputDeviceID())
        storeSelectedInputDevice(stable.id);

    StartAttempt attempt;
    attempt.id = m_startAttemptID;
    attempt.generation = m_generation;
    attempt.mode = mode;
    attempt.language = m_settings->language();
    attempt.model = m_settings->sttModel();
    attempt.config = currentConfig();
    attempt.selection = {m_sources->selectedInputDeviceID(), m_sources->selectedSystemDisplayID(),
                         m_sources->selectedSystemApplicationBundleID()};

    AppLog::write(QStringLiteral("startRecording mode=%1 language=%2 model=%3")
                      .arg(rawValue(mode), attempt.language, attempt.model));
    m_startTimeoutConfig = attempt.config;
    scheduleStartRecordingTimeout(attempt.id);
    runStartAttempt(std::move(attempt));
}

QCoro::Task<> TranscriptionViewModel::runStartAttempt(StartAttempt attempt)
{
    QPointer<TranscriptionViewModel> self(this);
    const bool permitted = co_await ensurePermissionsForMode(attempt.mode);
    if (!self)
        co_return;
    if (!permitted) {
        const MicrophoneCaptureError denied(MicrophoneCaptureError::Kind::PermissionDenied);
        failStart(attempt, {denied.errorDescription(), denied.kind(), std::nullopt}, QString());
        co_return;
    }
    if (m_startAttemptID != attempt.id)
        co_return;

    STTSessionCreateRequest request;
    request.language = attempt.language;
    request.enableInterim = true;
    request.sttModel = attempt.model;
    request.enableSpeakerDiarization = false;
    request.speakerCount = 0;
    std::optional<STTSessionCreateResponse> created;
    QString createError;
    try {
        created = co_await m_apiClient->createSession(attempt.config, request);
    } catch (const APIClientError &error) {
        createError = error.localizedDescription();
    } catch (const std::exception &error) {
        createError = QString::fromUtf8(error.what());
    }
    if (!self)
        co_return;
    if (!created) {
        failStart(attempt, {createError, std::nullopt, std::nullopt}, QString());
        co_return;
    }
    if (m_startAttemptID != attempt.id) {
        abandonStart(attempt, created->sessionId, nullptr);
        co_return;
    }

    setSessionId(created->sessionId);
    AppLog::write(QStringLiteral("session created id=%1").arg(created->sessionId));
    const QString streamUrl = streamUrlForBackend(created->wsUrl, attempt.config.baseURL);

    StreamClientPtr client(m_streamClientFactory().release());
    const quint64 generation = attempt.generation;
    try {
        client->open(streamUrl, attempt.language, attempt.model,
                     [self, generation](const StreamEvent &event) {
                         // Events of a stream that belongs to an older recording are dropped.
                         if (self && self->m_generation == generation)
                             self->handleStreamEvent(event);
                     });
    } catch (const APIClientError &error) {
        failStart(attempt, {error.localizedDescription(), std::nullopt, std::nullopt},
                  created->sessionId);
        co_return;
    }
    if (m_startAttemptID != attempt.id) {
        abandonStart(attempt, created->sessionId, std::move(client));
        co_return;
    }
    m_webSocketClient = std::move(client);

    std::optional<StartFailure> captureFailure;
    try {
        activateLiveCapture(attempt.mode, m_webSocketClient.get(), attempt.selection);
    } catch (const MicrophoneCaptureError &error) {
        captureFailure = StartFailure {error.errorDescription(), error.kind(), std::nullopt};
    } catch (const SystemAudioCaptureError &error) {
        captureFailure = StartFailure {error.errorDescription(), std::nullopt, error.kind()};
    }
    if (captureFailure) {
        failStart(attempt, *captureFailure, created->sessionId);
        co_return;
    }
    if (m_startAttemptID != attempt.id) {
        deactivateLiveCapture();
        abandonStart(attempt, created->sessionId, std::move(m_webSocketClient));
        co_return;
    }
    goLive(attempt, created->sessionId);
}

void TranscriptionViewModel::abandonStart(const StartAttempt &attempt,
                                          const QString &createdSessionId, StreamClientPtr client)
{
    // A stop, a time-out or a newer start overtook this one: what it made is undone quietly.
    client.reset();
    AppLog::write(QStringLiteral("startRecording superseded session=%1").arg(createdSessionId));
    stopSessionInBackground(attempt.config, createdSessionId);
}

void TranscriptionViewModel::failStart(const StartAttempt &attempt, const StartFailure &failure,
                                       const QString &createdSessionId)
{
    if (failure.systemAudioError)
        m_permissions->applySystemAudioCaptureError(*failure.systemAudioError);
    else if (failure.microphoneError)
        m_permissions->refreshMicrophonePermissionStatus(false);
    if (m_startAttemptID != attempt.id)
        return;
    AppLog::write(QStringLiteral("startRecording failed error=%1").arg(failure.description));
    setStatusText(failure.description);
    leaveLive(LeaveReason::StartFailed);
    // Nothing will ever stream into a session whose start failed; leaving it open would keep it
    // alive on the server until its idle limit.
    if (!createdSessionId.isEmpty())
        stopSessionInBackground(attempt.config, createdSessionId);
}

void TranscriptionViewModel::goLive(const StartAttempt &attempt, const QString &sessionId)
{
    m_startRecordingTimeout->stop();
    setPhase(RecordingPhase::Live);
    setListeningStatus(attempt.mode);
    startAudioKeepAlive();
    startTranscriptPolling(sessionId, attempt.config);
    startSessionMetaPolling(sessionId, attempt.config);
}

void TranscriptionViewModel::scheduleStartRecordingTimeout(const QUuid &attemptID)
{
    m_startTimeoutAttemptID = attemptID;
    m_startRecordingTimeout->start(kStartTimeout);
}

void TranscriptionViewModel::handleStartRecordingTimeout()
{
    if (m_startAttemptID != m_startTimeoutAttemptID || isRecording())
        return;
    const QString keptSessionId = m_sessionId;
    setStatusText(QStringLiteral("Aloitus aikakatkaistiin"));
    setDiagnosticHint(QStringLiteral(
        "Sessio syntyi, mutta äänen kaappaus tai yhteys ei käynnistynyt ajoissa. Yritä "
        "uudelleen ja vie diagnostiikka, jos tämä toistuu."));
    leaveLive(LeaveReason::StartTimedOut);
    AppLog::write(QStringLiteral("startRecording timeout session=%1").arg(keptSessionId));
    if (!keptSessionId.isEmpty())
        stopSessionInBackground(m_startTimeoutConfig, keptSessionId);
}

void TranscriptionViewModel::stopRecording()
{
    if (!isStoppablePhase(m_phase))
        return;
    leaveLive(LeaveReason::UserStop);
    setStatusText(QStringLiteral("Pysäytetään..."));
    AppLog::write(QStringLiteral("stopRecording session=%1").arg(m_sessionId));
    finishRecording(makeFinishPlan(true), std::move(m_webSocketClient));
}

void TranscriptionViewModel::leaveLive(LeaveReason reason)
{
    const bool finishing = reason == LeaveReason::UserStop || reason == LeaveReason::RemoteStop;
    m_startRecordingTimeout->stop();
    m_resumeRecordingTimeout->stop();
    m_startAttemptID = QUuid::createUuid();
    m_resumeAttemptID = QUuid::createUuid();
    setPhase(finishing ? RecordingPhase::Stopping : RecordingPhase::Idle);
    stopPauseTracking();
    m_audioKeepAlive->stop();
    deactivateLiveCapture();
    // A user stop still sends the stream its stop message, and the pollers run until the
    // closing fetch.
    if (reason != LeaveReason::UserStop) {
        disposeStreamClient();
        cancelRecordingJobs();
    }
}

FinishPlan TranscriptionViewModel::makeFinishPlan(bool userStop) const
{
    FinishPlan plan;
    plan.generation = m_generation;
    plan.userStop = userStop;
    plan.sessionId = m_sessionId;
    plan.segmentsAtStop = m_segments->segments();
    plan.startedAt = m_recordingStartedAt.isValid() ? m_recordingStartedAt : m_clock->now();
    plan.language = m_settings->language();
    plan.model = m_settings->sttModel();
    plan.config = currentConfig();
    plan.mode = m_settings->inputMode();
    return plan;
}

QCoro::Task<> TranscriptionViewModel::finishRecording(FinishPlan plan, StreamClientPtr client)
{
    QPointer<TranscriptionViewModel> self(this);
    STTAPIClient *api = m_apiClient;
    if (plan.userStop) {
        if (client && client->isActive())
            client->sendStop();
        // Closing the stream now would drop the audio it holds for the new socket.
        for (auto waited = 0ms; client && client->isHoldingStop() && waited < kHeldStopLimit;
             waited += kHeldStopPoll) {
            co_await m_clock->sleep(kHeldStopPoll);
            if (!self)
                co_return;
        }
        // Always: the server delivers the last finals after the stop message.
        co_await m_clock->sleep(kFinalSegmentsGrace);
        if (!self)
            co_return;
    }
    client.reset();

    // Only this recording's transcript is touched; the stop holds the transcript until done, so
    // the generation can only have moved if that rule is ever broken.
    const auto ownsTranscript = [&] { return self && m_generation == plan.generation; };
    if (!plan.sessionId.isEmpty()) {
        std::optional<ServerTranscriptResponse> server;
        try {
            server = co_await api->getTranscript(plan.config, plan.sessionId);
        } catch (const std::exception &) {
            // The closing fetch is best effort; the stream already delivered what it could.
        }
        if (!self)
            co_return;
        if (server && ownsTranscript())
            mergePolledSegments(server->segments);
    }
    if (ownsTranscript())
        cancelRecordingJobs();
    if (plan.userStop && !plan.sessionId.isEmpty()) {
        co_await api->stopSession(plan.config, plan.sessionId);
        if (!self)
            co_return;
    }

    const QList<TranscriptSegment> current =
        ownsTranscript() ? m_segments->segments() : QList<TranscriptSegment>();
    const QList<TranscriptSegment> kept = current.isEmpty() ? plan.segmentsAtStop : current;
    bool saveFailed = false;
    if (!plan.sessionId.isEmpty() && !kept.isEmpty()) {
        if (const auto error = saveFinishedSession(plan, kept)) {
            saveFailed = true;
            AppLog::write(QStringLiteral("stopRecording save failed session=%1 error=%2")
                              .arg(plan.sessionId, *error));
        }
        refreshSessionHistory();
    }
    const QString exportStatus =
        autoExportAfterStopIfEnabled({plan.sessionId, plan.language, plan.model, kept});

    if (plan.userStop) {
        completeUserStop(plan, !kept.isEmpty(), exportStatus);
    } else if (!exportStatus.isEmpty()) {
        setStatusText(exportStatus);
    }
    if (saveFailed) {
        // Reported last so nothing covers it; the text stays on screen to be saved by hand.
        setStatusText(SessionStatusText::saveFailed());
        setDiagnosticHint(QStringLiteral(
            "Session tallennus historiaan epäonnistui. Teksti on yhä näkyvissä: tallenna se "
            "tiedostoon ennen uutta tallennusta."));
    }
    if (m_phase == RecordingPhase::Stopping)
        setPhase(RecordingPhase::Idle);
}

void TranscriptionViewModel::completeUserStop(const FinishPlan &plan, bool haveSegments,
                                              const QString &exportStatus)
{
    setDiagnosticHint(QString());
    const int frames = m_pipeline->audioFramesSent();
    const double level = m_pipeline->outgoingAudioLevel();
    const double peak = m_pipeline->outgoingAudioPeak();
    resetCaptureState();
    setFallbackNoticeVisible(false);

    if (haveSegments || frames == 0) {
        // An export's own line (written or failed) says more than the plain stop.
        setStatusText(exportStatus.isEmpty() ? QStringLiteral("Pysäytetty") : exportStatus);
        return;
    }
    setDiagnosticHint(diagnoseNoTranscript(frames, level, peak, plan.mode).hint);
    AppLog::write(QStringLiteral("stopRecording completed without transcript session=%1 "
                                 "audioFrames=%2 avg=%3 peak=%4 mode=%5")
                      .arg(plan.sessionId)
                      .arg(frames)
                      .arg(level)
                      .arg(peak)
                      .arg(rawValue(plan.mode)));
    setStatusText(QStringLiteral("Pysäytetty ilman transkriptiota"));
}

void TranscriptionViewModel::startAudioKeepAlive()
{
    m_audioKeepAlive->stop();
    m_audioKeepAlive->start(kKeepAliveInterval);
}

void TranscriptionViewModel::keepAliveTick()
{
    if (!isRecording()) {
        m_audioKeepAlive->stop();
        return;
    }
    m_pipeline->sendKeepAlive();
}

void TranscriptionViewModel::setListeningStatus(AudioInputMode mode)
{
    QString selectedName;
    for (const AudioInputDeviceOption &device : std::as_const(m_sources->availableInputDevices())) {
        if (device.id == m_sources->selectedInputDeviceID())
            selectedName = device.name;
    }
    if (selectedName.isEmpty())
        selectedName = m_microphone->activeInputDeviceName();
    setStatusText(listeningStatusText(isPaused(), mode, m_microphone->activeInputDeviceName(),
                                      m_systemAudio->activeSourceName(), selectedName));
}

void TranscriptionViewModel::resetCaptureState()
{
    m_pipeline->resetForNewRecording();
    resetHealthSupervision();
}

void TranscriptionViewModel::stopSessionInBackground(const STTConfiguration &config,
                                                     const QString &sessionId)
{
    if (!sessionId.isEmpty())
        stopSessionDetached(m_apiClient, config, sessionId);
}

} // namespace vernalo
