// Audio health of a running recording: the rules over each metadata poll, the microphone
// liveness check, the repairs the controller makes by itself (each at most once per recording),
// the live microphone change from the settings, capture that ends by itself (an unplugged
// microphone, a sound server that restarts), and the live diagnostics line.
#include "audio/capture_source_lists.h"
#include "audio/microphone_capture.h"
#include "audio/outgoing_audio_pipeline.h"
#include "audio/system_audio_capture.h"
#include "foundation/app_log.h"
#include "ports/audio_system.h"
#include "recording/audio_health_rules.h"
#include "recording/capture_rig.h"
#include "recording/recording_permissions.h"
#include "recording/transcription_view_model.h"
#include "wire/clock.h"

namespace vernalo {

namespace {

using namespace std::chrono_literals;

constexpr auto kMicrophoneLivenessDelay = 4s;
constexpr std::chrono::milliseconds kLongMicrophoneSilence = 30s;
// A restarted sound server may still be setting up its devices when it first answers.
constexpr auto kCaptureResumeRetry = 1s;
constexpr int kCaptureResumeAttempts = 5;

// The switch away from a microphone that delivers nothing: where to, and what it replaces.
struct StableSwitchPlan
{
    InputDeviceInfo target;
    QString previousName;
};

std::optional<StableSwitchPlan> planStableSwitch(const InputDeviceInventory &inventory,
                                                 quint32 selectedID, const QString &openedName)
{
    // The current device is the selected one; without a selection, the one the capture opened
    // (the default input when that is unknown).
    std::optional<quint32> current;
    if (selectedID != 0)
        current = selectedID;
    for (const InputDeviceInfo &device : inventory.devices) {
        if (!current && !openedName.isEmpty() && device.name == openedName)
            current = device.id;
    }
    // An opened device that is gone (unplugged) excludes nothing; the default may be its heir.
    if (!current && openedName.isEmpty())
        current = inventory.defaultId;
    const auto target = rankStableCandidates(inventory.devices, inventory.defaultId, current);
    if (!target)
        return std::nullopt;
    StableSwitchPlan plan {*target, openedName};
    for (const InputDeviceInfo &device : inventory.devices) {
        if (current && device.id == *current)
            plan.previousName = device.name;
    }
    if (plan.previousName.isEmpty())
        plan.previousName = QStringLiteral("Valittu mikrofoni");
    return plan;
}

} // namespace

void TranscriptionViewModel::initHealthSupervision()
{
    const auto relabel = [this] { emit realtimeDiagnosticsLabelChanged(); };
    connect(m_pipeline, &OutgoingAudioPipeline::countersChanged, this, relabel);
    connect(m_pipeline, &OutgoingAudioPipeline::micLevelChanged, this, relabel);
    connect(m_pipeline, &OutgoingAudioPipeline::systemLevelChanged, this, relabel);
    connect(m_pipeline, &OutgoingAudioPipeline::audioFramesSentChanged, this, relabel);
    connect(this, &TranscriptionViewModel::receiptTimesChanged, this, relabel);

    // Every (re)start of the microphone is judged once, a few seconds later.
    connect(m_rig, &CaptureRig::microphoneStarted, this, [this](AudioInputMode mode) {
        scheduleMicrophoneLivenessCheck(mode, m_health.microphoneStartReason);
    });
    connect(m_rig, &CaptureRig::captureEnded, this, &TranscriptionViewModel::handleCaptureEnded);
    AudioSystemEvents &events = m_audioSystem->events();
    connect(&events, &AudioSystemEvents::serverLost, this,
            &TranscriptionViewModel::handleSoundServerLost);
    connect(&events, &AudioSystemEvents::serverBack, this, [this] {
        if (isRecording())
            resumeCaptureAfterServerBack(m_captureResume.start(), m_generation);
    });
}

void TranscriptionViewModel::resetHealthSupervision()
{
    m_health = AudioHealthState {};
    m_lastHealthMeta.reset();
}

QString TranscriptionViewModel::realtimeDiagnosticsLabel() const
{
    RealtimeDiagnostics diagnostics;
    diagnostics.audioFramesSent = m_pipeline->audioFramesSent();
    diagnostics.micFramesSeen = m_pipeline->micFramesSeen();
    diagnostics.micAudioPeak = m_pipeline->micAudioPeak();
    diagnostics.systemFramesSeen = m_pipeline->systemFramesSeen();
    diagnostics.systemAudioPeak = m_pipeline->systemAudioPeak();
    diagnostics.lastPartialReceivedAt = m_lastPartialReceivedAt;
    diagnostics.lastFinalReceivedAt = m_lastFinalReceivedAt;
    diagnostics.lastSessionMetaReceivedAt = m_lastSessionMetaReceivedAt;
    diagnostics.mixedLagDropMicChunks = m_pipeline->mixedLagDropMicChunks();
    diagnostics.mixedLagDropSystemChunks = m_pipeline->mixedLagDropSystemChunks();
    return vernalo::realtimeDiagnosticsLabel(diagnostics, m_clock->now());
}

QString TranscriptionViewModel::selectedInputDeviceName() const
{
    for (const AudioInputDeviceOption &device : m_sources->availableInputDevices()) {
        if (device.id == m_sources->selectedInputDeviceID() &&
            m_sources->selectedInputDeviceID() != 0)
            return device.name;
    }
    const QString opened = m_microphone->activeInputDeviceName();
    return opened.isEmpty() ? QStringLiteral("Auto") : opened;
}

bool TranscriptionViewModel::canRepairRecording(quint64 generation) const
{
    return m_generation == generation && m_phase == RecordingPhase::Live && m_webSocketClient;
}

void TranscriptionViewModel::setLiveInputMode(AudioInputMode mode)
{
    m_settings->setLiveInputMode(mode);
}

void TranscriptionViewModel::noteMicrophoneHeard()
{
    const quint32 id = m_microphone->activeInputDeviceID();
    if (id != 0 && m_pipeline->micFramesWithSignal() > 0 && !m_health.heardMicrophones.contains(id))
        m_health.heardMicrophones.append(id);
}

bool TranscriptionViewModel::isLongMicrophoneSilence(bool quiet)
{
    const int frames = m_pipeline->micFramesWithSignal();
    const qint64 now = m_clock->monotonicMs();
    if (frames != m_health.micSignalFramesAtPoll || isPaused() || m_health.micSilentSinceMs == 0) {
        if (frames != m_health.micSignalFramesAtPoll)
            noteMicrophoneHeard();
        m_health.micSignalFramesAtPoll = frames;
        m_health.micSilentSinceMs = now;
        m_health.longSilenceNoted = false;
        return false;
    }
    // A heard microphone stays, muted or not; its silence is only worth a word, unless a
    // better one (muted, another rule's hint) is already said.
    if (quiet || !m_health.heardMicrophones.contains(m_microphone->activeInputDeviceID()) ||
        now - m_health.micSilentSinceMs < kLongMicrophoneSilence.count())
        return false;
    if (!m_health.longSilenceNoted)
        AppLog::write(QStringLiteral("microphone silent kept device=%1 seconds=%2")
                          .arg(m_microphone->activeInputDeviceName())
                          .arg((now - m_health.micSilentSinceMs) / 1000));
    m_health.longSilenceNoted = true;
    return true;
}

bool TranscriptionViewModel::isMicrophoneMuted()
{
    const quint32 id = m_microphone->activeInputDeviceID();
    for (const AudioSourceInfo &source : m_audioSystem->listSources().sources) {
        if (id != 0 && source.id == id)
            return source.muted;
    }
    return false;
}

void TranscriptionViewModel::evaluateAudioHealth(const SessionMetaResponse &meta)
{
    m_lastHealthMeta = meta;
    // Without a sound server every source is silent; the status already says why.
    if (!m_audioSystem->serverStatus().reachable)
        return;
    noteMicrophoneHeard();
    AudioHealthInput input;
    input.mode = m_settings->inputMode();
    input.paused = isPaused();
    input.audioFrameCount = meta.audioFrameCount;
    input.avgAudioLevel = meta.avgAudioLevel;
    input.interimCount = meta.interimCount;
    input.finalCount = meta.finalCount;
    if (meta.lastSttError && meta.lastSttError->message)
        input.sttErrorMessage = *meta.lastSttError->message;
    input.micFramesWithSignal = m_pipeline->micFramesWithSignal();
    input.micFramesSeen = m_pipeline->micFramesSeen();
    input.micAudioPeak = m_pipeline->micAudioPeak();
    input.systemFramesSeen = m_pipeline->systemFramesSeen();
    input.systemRawSamplesSeen = m_pipeline->systemRawSamplesSeen();
    input.systemAudioPeak = m_pipeline->systemAudioPeak();
    input.rawWithoutPCMStreak = m_health.rawWithoutPCMStreak;
    input.allowSystemFallback = m_settings->allowSystemFallback();
    input.hasStreamClient = m_webSocketClient != nullptr;
    input.hasAttemptedMixedMicrophoneRestart = m_health.hasAttemptedMixedMicrophoneRestart;
    if (input.mode != AudioInputMode::SystemAudio) {
        input.microphoneMuted = isMicrophoneMuted();
        if (input.microphoneMuted && !m_health.microphoneMuteLogged)
            AppLog::write(QStringLiteral("microphone muted device=%1")
                              .arg(m_microphone->activeInputDeviceName()));
        m_health.microphoneMuteLogged = input.microphoneMuted;
    }
    // Asking the sound server for its devices is only worth it when the answer matters. A
    // microphone heard in this recording is kept: its silence now is the speaker's.
    if (input.mode == AudioInputMode::MicrophoneAndSystem && input.micFramesWithSignal == 0 &&
        !m_health.heardMicrophones.contains(m_microphone->activeInputDeviceID()))
        input.canSwitchToStableMicrophone = stableMicrophoneCandidate().has_value();

    const AudioHealthDecision decision = evaluateAudioHealthRules(input);
    m_health.rawWithoutPCMStreak = decision.rawWithoutPCMStreak;
    const bool otherHint = decision.hint && !decision.hint->isEmpty();
    if (input.mode != AudioInputMode::SystemAudio &&
        isLongMicrophoneSilence(input.microphoneMuted || otherHint))
        setDiagnosticHint(QStringLiteral("Puhetta ei havaita. Tarkista valittu mikrofoni."));
    else if (decision.hint)
        setDiagnosticHint(*decision.hint);
    if (!decision.logLine.isEmpty())
        AppLog::write(decision.logLine);
    switch (decision.repair) {
    case AudioHealthRepair::None:
        break;
    case AudioHealthRepair::StableMicrophoneFallback:
        attemptStableMicrophoneFallback(decision.trigger, m_settings->inputMode());
        break;
    case AudioHealthRepair::MixedMicrophoneRestart:
        attemptMixedMicrophoneRestart(decision.trigger);
        break;
    case AudioHealthRepair::SystemAudioFallback:
        attemptSystemAudioFallback(decision.trigger);
        break;
    }
}

void TranscriptionViewModel::scheduleMicrophoneLivenessCheck(AudioInputMode mode,
                                                             const QString &reason)
{
    m_microphoneLiveness.cancel();
    if (mode == AudioInputMode::SystemAudio)
        return;
    const JobSlot::Ticket ticket = m_microphoneLiveness.start();
    runMicrophoneLivenessCheck(mode, reason, ticket, m_generation, m_sessionId,
                               m_pipeline->micFramesWithSignal());
}

QCoro::Task<>
TranscriptionViewModel::runMicrophoneLivenessCheck(AudioInputMode mode, QString reason,
                                                   JobSlot::Ticket ticket, quint64 generation,
                                                   QString sessionId, int framesAtSchedule)
{
    QPointer<TranscriptionViewModel> self(this);
    Clock *clock = m_clock;
    co_await clock->sleep(kMicrophoneLivenessDelay);
    if (!self || !m_microphoneLiveness.isCurrent(ticket))
        co_return;
    m_microphoneLiveness.finish(ticket);
    if (m_generation != generation || !isRecording() || !m_webSocketClient ||
        m_sessionId != sessionId || m_settings->inputMode() != mode)
        co_return;
    if (isPaused()) {
        // Not judged while paused: the check waits for the next unpaused stretch.
        scheduleMicrophoneLivenessCheck(mode, reason);
        co_return;
    }
    // Judged once per start: a heard microphone is kept for the rest of the recording, and one
    // that ended is the capture-ended handling's.
    if (m_pipeline->micFramesWithSignal() > framesAtSchedule) {
        noteMicrophoneHeard();
        co_return;
    }
    if (!m_rig->isMicrophoneRunning())
        co_return;
    const QString device = m_microphone->activeInputDeviceName();
    if (isMicrophoneMuted()) {
        setDiagnosticHint(QStringLiteral("Mikrofoni on mykistetty."));
        AppLog::write(QStringLiteral("microphone liveness muted kept reason=%1 device=%2")
                          .arg(reason, device));
        co_return;
    }
    if (m_health.heardMicrophones.contains(m_microphone->activeInputDeviceID())) {
        setDiagnosticHint(QStringLiteral("Puhetta ei havaita. Tarkista valittu mikrofoni."));
        AppLog::write(QStringLiteral("microphone liveness silent kept reason=%1 device=%2")
                          .arg(reason, device));
        co_return;
    }
    if (attemptStableMicrophoneFallback(QStringLiteral("mic-liveness-") + reason, mode))
        co_return;
    setDiagnosticHint(QStringLiteral("Valittu mikrofoni ei tuottanut dataa. Valitse tietokoneen "
                                     "oma mikrofoni tai irrota Bluetooth-headset ja kokeile "
                                     "uudelleen."));
    AppLog::write(QStringLiteral("microphone liveness failed no fallback reason=%1 mode=%2 "
                                 "selected=%3")
                      .arg(reason, rawValue(mode), selectedInputDeviceName()));
}

std::optional<AudioInputDeviceOption> TranscriptionViewModel::stableMicrophoneCandidate() const
{
    if (m_health.hasAttemptedMicrophoneDeviceFallback)
        return std::nullopt;
    const auto plan =
        planStableSwitch(inputDeviceInventory(m_audioSystem->listSources()),
                         m_sources->selectedInputDeviceID(), m_microphone->activeInputDeviceName());
    if (!plan)
        return std::nullopt;
    return plan->target.option();
}

bool TranscriptionViewModel::attemptStableMicrophoneFallback(const QString &trigger,
                                                             AudioInputMode mode)
{
    if (m_health.hasAttemptedMicrophoneDeviceFallback)
        return false;
    const auto plan =
        planStableSwitch(inputDeviceInventory(m_audioSystem->listSources()),
                         m_sources->selectedInputDeviceID(), m_microphone->activeInputDeviceName());
    if (!plan)
        return false;
    m_health.hasAttemptedMicrophoneDeviceFallback = true;
    storeSelectedInputDevice(plan->target.id);
    // The stable device may have been plugged in during the recording: list it.
    refreshInputDevices();
    const QString name = plan->target.name;
    setStatusText(QStringLiteral("Mikrofoni vaihdettu: ") + name);
    setDiagnosticHint(QStringLiteral("%1 ei tuottanut mikrofonidataa. Vaihdettiin "
                                     "automaattisesti vakaampaan mikrofoniin: %2.")
                          .arg(plan->previousName, name));
    AppLog::write(QStringLiteral("microphone stable fallback trigger=%1 previous=%2 fallback=%3")
                      .arg(trigger, plan->previousName, name));
    // The restart's own hint would hide which device failed and which one replaced it.
    restartMicrophoneCapture(mode, trigger, false);
    return true;
}

bool TranscriptionViewModel::restartMicrophoneCapture(AudioInputMode mode, const QString &reason,
                                                      bool announce)
{
    if (mode == AudioInputMode::SystemAudio)
        return false;
    noteMicrophoneHeard();
    m_pipeline->resetMicrophoneStats();
    m_health.hasAttemptedMixedMicrophoneRestart = false;
    m_microphoneLiveness.cancel();
    m_health.microphoneStartReason = reason;
    try {
        m_rig->restartMicrophone(m_sources->selectedInputDeviceID(), mode);
    } catch (const MicrophoneCaptureError &error) {
        m_permissions->refreshMicrophonePermissionStatus(false);
        setStatusText(QStringLiteral("Mikrofonin vaihto epäonnistui"));
        setDiagnosticHint(QStringLiteral("Mikrofonin käynnistys epäonnistui: ") +
                          error.errorDescription());
        AppLog::write(QStringLiteral("microphone live restart failed reason=%1 error=%2")
                          .arg(reason, error.errorDescription()));
        return false;
    }
    // A microphone added to a system-audio recording makes it a mixed one: the pipeline mixes,
    // the liveness check runs and later texts name the mode that is really recording.
    setLiveInputMode(mode);
    if (announce) {
        setStatusText(QStringLiteral("Mikrofoni vaihdettu: ") +
                      (m_sources->selectedInputDeviceID() == 0 ? QStringLiteral("Auto")
                                                               : selectedInputDeviceName()));
        setDiagnosticHint(mode == AudioInputMode::MicrophoneAndSystem
                              ? QStringLiteral("Mikrofoni liitetty käynnissä olevaan "
                                               "tallennukseen. Odotetaan mikrofonidataa...")
                              : QStringLiteral("Mikrofoni vaihdettu käynnissä olevaan "
                                               "tallennukseen."));
    }
    AppLog::write(QStringLiteral("microphone live restart started reason=%1 mode=%2 id=%3")
                      .arg(reason, rawValue(mode))
                      .arg(m_sources->selectedInputDeviceID()));
    return true;
}

void TranscriptionViewModel::attemptMixedMicrophoneRestart(const QString &trigger)
{
    if (m_phase != RecordingPhase::Live ||
        m_settings->inputMode() != AudioInputMode::MicrophoneAndSystem)
        return;
    if (m_health.hasAttemptedMixedMicrophoneRestart) {
        setDiagnosticHint(QStringLiteral("Mikrofoni ei edelleenkään tuota dataa. Valitse toinen "
                                         "mikrofoni tai tarkista mikrofonin käyttöoikeus."));
        return;
    }
    if (!m_webSocketClient)
        return;
    m_health.hasAttemptedMixedMicrophoneRestart = true;
    AppLog::write(QStringLiteral("mixed microphone restart trigger=%1").arg(trigger));
    noteMicrophoneHeard();
    m_health.microphoneStartReason = trigger;
    try {
        m_rig->restartMicrophone(m_sources->selectedInputDeviceID(),
                                 AudioInputMode::MicrophoneAndSystem);
    } catch (const MicrophoneCaptureError &error) {
        m_permissions->refreshMicrophonePermissionStatus(false);
        setDiagnosticHint(QStringLiteral("Mikrofonin uudelleenkäynnistys epäonnistui: ") +
                          error.errorDescription());
        AppLog::write(
            QStringLiteral("mixed microphone restart failed: %1").arg(error.errorDescription()));
        return;
    }
    setDiagnosticHint(
        QStringLiteral("Mikrofoni käynnistettiin uudelleen. Odotetaan mikrofonidataa..."));
    AppLog::write(QStringLiteral("mixed microphone restart started"));
}

void TranscriptionViewModel::attemptSystemAudioFallback(const QString &trigger)
{
    if (m_phase != RecordingPhase::Live || m_settings->inputMode() != AudioInputMode::SystemAudio ||
        m_health.hasAttemptedSystemFallback || !m_webSocketClient)
        return;
    m_health.hasAttemptedSystemFallback = true;
    AppLog::write(QStringLiteral("system fallback trigger=%1").arg(trigger));
    if (!m_health.hasAutoExportedFallbackDiagnostics) {
        emit fallbackDiagnosticsRequested(trigger);
        // Claims the once-per-recording flag itself and writes the file off the main thread.
        autoExportFallbackDiagnostics(trigger, m_lastHealthMeta);
    }
    runSystemAudioFallback(m_generation);
}

QCoro::Task<> TranscriptionViewModel::runSystemAudioFallback(quint64 generation)
{
    QPointer<TranscriptionViewModel> self(this);
    MicrophoneCapture *microphone = m_microphone;
    const bool granted = co_await microphone->requestPermission();
    if (!self || m_generation != generation)
        co_return;
    if (!canRepairRecording(generation) || m_settings->inputMode() != AudioInputMode::SystemAudio) {
        // Paused or changed meanwhile: a later update of this recording may try again.
        m_health.hasAttemptedSystemFallback = false;
        co_return;
    }
    if (!granted) {
        m_health.hasAttemptedSystemFallback = false;
        setDiagnosticHint(QStringLiteral("Systeemiääni ei tuottanut dataa eikä mikrofoniin ole "
                                         "lupaa. Anna mikrofonilupa."));
        AppLog::write(QStringLiteral("system fallback failed: microphone permission denied"));
        co_return;
    }
    m_health.microphoneStartReason = QStringLiteral("system-fallback");
    try {
        m_rig->restartMicrophone(m_sources->selectedInputDeviceID(),
                                 AudioInputMode::MicrophoneAndSystem);
    } catch (const MicrophoneCaptureError &error) {
        m_health.hasAttemptedSystemFallback = false;
        setDiagnosticHint(QStringLiteral("Automaattinen varatila epäonnistui: ") +
                          error.errorDescription());
        AppLog::write(QStringLiteral("system fallback failed: %1").arg(error.errorDescription()));
        co_return;
    }
    setLiveInputMode(AudioInputMode::MicrophoneAndSystem);
    setFallbackNoticeVisible(true);
    setDiagnosticHint(QStringLiteral("Systeemiääni ei tuottanut dataa. Vaihdettu automaattisesti "
                                     "tilaan Mikki + systeemiääni."));
    m_health.rawWithoutPCMStreak = 0;
    const QString systemName = m_systemAudio->activeSourceName();
    setStatusText(QStringLiteral("Kuuntelen... (%1 + %2)")
                      .arg(systemName.isEmpty() ? QStringLiteral("Järjestelmä") : systemName,
                           selectedInputDeviceName()));
    AppLog::write(QStringLiteral("system fallback activated -> microphoneAndSystem"));
}

void TranscriptionViewModel::restartMicrophoneCaptureForLiveDeviceChange(quint32 id)
{
    if (m_phase != RecordingPhase::Live)
        return;
    if (!m_webSocketClient) {
        setStatusText(QStringLiteral("Mikrofonin vaihto epäonnistui: yhteys puuttuu"));
        return;
    }
    const bool adding = m_settings->inputMode() == AudioInputMode::SystemAudio;
    const AudioInputMode target =
        adding ? AudioInputMode::MicrophoneAndSystem : m_settings->inputMode();
    setStatusText(adding ? QStringLiteral("Lisätään mikrofoni tallennukseen...")
                         : QStringLiteral("Vaihdetaan mikrofonia..."));
    setDiagnosticHint(QString());
    AppLog::write(QStringLiteral("microphone live change requested id=%1 previousMode=%2 "
                                 "targetMode=%3")
                      .arg(id)
                      .arg(rawValue(m_settings->inputMode()), rawValue(target)));
    runLiveMicrophoneChange(target, m_generation);
}

QCoro::Task<> TranscriptionViewModel::runLiveMicrophoneChange(AudioInputMode targetMode,
                                                              quint64 generation)
{
    QPointer<TranscriptionViewModel> self(this);
    MicrophoneCapture *microphone = m_microphone;
    const bool granted = co_await microphone->requestPermission();
    if (!self || !canRepairRecording(generation))
        co_return;
    if (!granted) {
        m_permissions->refreshMicrophonePermissionStatus(false);
        setDiagnosticHint(QStringLiteral("Mikrofonilupa puuttuu. Anna lupa ääniasetuksissa ja "
                                         "kokeile uudelleen."));
        setStatusText(QStringLiteral("Mikrofonin vaihto epäonnistui"));
        AppLog::write(QStringLiteral("microphone live change failed: permission denied"));
        co_return;
    }
    restartMicrophoneCapture(targetMode, QStringLiteral("live-device-change"));
}

void TranscriptionViewModel::handleCaptureEnded(CaptureSource source, const AudioServerError &error)
{
    if (!isRecording())
        return;
    if (!m_audioSystem->serverStatus().reachable) {
        // Every stream ends with the server; it is reopened when the server is back.
        handleSoundServerLost();
        return;
    }
    if (source == CaptureSource::SystemAudio) {
        AppLog::write(QStringLiteral("system audio capture ended error=%1").arg(error.details()));
        return;
    }
    noteMicrophoneHeard();
    const bool delivered = m_pipeline->micFramesSeen() > 0;
    AppLog::write(QStringLiteral("microphone capture ended device=%1 error=%2 mode=%3")
                      .arg(m_microphone->activeInputDeviceName(), error.details(),
                           rawValue(m_settings->inputMode())));
    // Unplugged or switched off: the device is gone, heard or not, so the stable switch applies
    // at once. Reopening a stream that never delivered could only end again.
    if (attemptStableMicrophoneFallback(QStringLiteral("mic-ended"), m_settings->inputMode()))
        return;
    if (delivered && restartMicrophoneCapture(m_settings->inputMode(), QStringLiteral("mic-ended")))
        return;
    setDiagnosticHint(QStringLiteral("Mikrofoni ei ole mukana tallennuksessa. Valitse toinen "
                                     "mikrofoni tai tarkista mikrofonin käyttöoikeus."));
}

void TranscriptionViewModel::handleSoundServerLost()
{
    if (!isRecording())
        return;
    m_captureResume.cancel();
    m_microphoneLiveness.cancel();
    setStatusText(QStringLiteral("Äänipalvelin ei vastaa"));
}

QCoro::Task<> TranscriptionViewModel::resumeCaptureAfterServerBack(JobSlot::Ticket ticket,
                                                                   quint64 generation)
{
    QPointer<TranscriptionViewModel> self(this);
    Clock *clock = m_clock;
    QString failure;
    for (int attempt = 1; attempt <= kCaptureResumeAttempts; ++attempt) {
        if (attempt > 1) {
            co_await clock->sleep(kCaptureResumeRetry);
            if (!self || !m_captureResume.isCurrent(ticket))
                co_return;
        }
        if (m_generation != generation || !isRecording())
            break;
        const AudioInputMode mode = m_settings->inputMode();
        try {
            if (mode != AudioInputMode::SystemAudio && !m_rig->isMicrophoneRunning()) {
                noteMicrophoneHeard();
                m_health.microphoneStartReason = QStringLiteral("sound-server-back");
                m_rig->restartMicrophone(m_sources->selectedInputDeviceID(), mode);
            }
            if (mode != AudioInputMode::Microphone && !m_rig->isSystemAudioRunning())
                m_rig->restartSystemAudio();
        } catch (const MicrophoneCaptureError &error) {
            failure = error.errorDescription();
            continue;
        } catch (const SystemAudioCaptureError &error) {
            failure = error.errorDescription();
            continue;
        }
        m_captureResume.finish(ticket);
        AppLog::write(QStringLiteral("capture resumed after sound server restart mode=%1 "
                                     "attempt=%2")
                          .arg(rawValue(mode))
                          .arg(attempt));
        setListeningStatus(mode);
        co_return;
    }
    m_captureResume.finish(ticket);
    if (m_generation != generation || !isRecording())
        co_return;
    AppLog::write(
        QStringLiteral("capture resume failed after sound server restart error=%1").arg(failure));
    setStatusText(failure);
}

} // namespace vernalo
