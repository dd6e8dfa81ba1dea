// Construction, the published fields and their change signals.
#include "recording/transcription_view_model.h"

#include "audio/microphone_capture.h"
#include "audio/outgoing_audio_pipeline.h"
#include "audio/system_audio_capture.h"
#include "recording/capture_rig.h"
#include "recording/recording_permissions.h"
#include "recording/status_line.h"
#include "sessions/transcript_export.h"
#include "wire/clock.h"

namespace vernalo {

void TranscriptionViewModel::StreamClientDeleter::operator()(WebSocketStreamClient *client) const
{
    // The client may be in the middle of delivering the event that ends the recording.
    client->close();
    client->deleteLater();
}

TranscriptionViewModel::TranscriptionViewModel(Collaborators collaborators, QObject *parent)
    : QObject(parent)
    , m_configStore(collaborators.configStore)
    , m_historyStore(collaborators.historyStore)
    , m_apiClient(collaborators.apiClient)
    , m_streamClientFactory(std::move(collaborators.streamClientFactory))
    , m_microphone(collaborators.microphone)
    , m_systemAudio(collaborators.systemAudio)
    , m_audioSystem(collaborators.audioSystem)
    , m_desktop(collaborators.desktop)
    , m_clock(collaborators.clock)
    , m_autoExportDirectory(collaborators.autoExportDirectory)
    , m_status(new StatusLine(QStringLiteral("Valmis aloittamaan"), this))
    , m_settings(new RecordingSettings(this))
    , m_sources(new CaptureSources(this))
    , m_permissions(
          new RecordingPermissions(m_microphone, m_systemAudio, m_desktop, m_status, this))
    , m_history(new HistoryState(this))
    , m_support(new SupportState(this))
    , m_startAttemptID(QUuid::createUuid())
    , m_resumeAttemptID(QUuid::createUuid())
    , m_startRecordingTimeout(m_clock->createTimer(this))
    , m_resumeRecordingTimeout(m_clock->createTimer(this))
    , m_audioKeepAlive(m_clock->createTimer(this))
    , m_rig(new CaptureRig(m_microphone, m_systemAudio, m_clock, this))
    , m_pipeline(m_rig->pipeline())
    , m_segments(new TranscriptSegmentModel(this))
{
    connect(m_status, &StatusLine::textChanged, this, &TranscriptionViewModel::statusTextChanged);
    connect(m_status, &StatusLine::hintChanged, this,
            &TranscriptionViewModel::diagnosticHintChanged);
    // A running mixed recording hears a mixing change at once.
    connect(m_settings, &RecordingSettings::mixingChanged, this,
            [this] { m_pipeline->setMixSettings(m_settings->mix()); });
    // The start button waits for the audio test.
    connect(m_support, &SupportState::isAudioTestRunningChanged, this,
            &TranscriptionViewModel::recordingStateChanged);

    m_startRecordingTimeout->setSingleShot(true);
    m_resumeRecordingTimeout->setSingleShot(true);
    connect(m_startRecordingTimeout, &Timer::timeout, this,
            &TranscriptionViewModel::handleStartRecordingTimeout);
    connect(m_audioKeepAlive, &Timer::timeout, this, &TranscriptionViewModel::keepAliveTick);

    connect(m_pipeline, &OutgoingAudioPipeline::audioFramesSentChanged, this,
            &TranscriptionViewModel::audioLevelsChanged);
    connect(m_pipeline, &OutgoingAudioPipeline::outgoingLevelChanged, this,
            &TranscriptionViewModel::audioLevelsChanged);
    connect(m_pipeline, &OutgoingAudioPipeline::listeningHintDue, this,
            [this](const QString &hint) {
                // Only until the first sentence arrives: after that the transcript speaks for
                // itself.
                if (m_phase == RecordingPhase::Live && m_segments->isEmpty())
                    setStatusText(hint);
            });
    connect(m_segments, &TranscriptSegmentModel::countsChanged, this, [this] {
        emit transcriptChanged();
        emit canSaveChanged();
    });

    initHealthSupervision();

    loadConfiguration();
    refreshInputDevices();
    m_permissions->refreshMicrophonePermissionStatus(false);
    m_permissions->refreshSystemAudioPermissionStatus(false);
    refreshSessionHistory();
}

TranscriptionViewModel::~TranscriptionViewModel()
{
    // The capture objects outlive the controller: they must not call into it any more.
    cancelRecordingJobs();
    deactivateLiveCapture();
    m_webSocketClient.reset();
}

bool TranscriptionViewModel::canStart() const
{
    // A stop still saving its recording owns the transcript until it is done.
    return m_phase == RecordingPhase::Idle && !m_support->isAudioTestRunning();
}

bool TranscriptionViewModel::canStop() const
{
    return isStoppablePhase(m_phase);
}

bool TranscriptionViewModel::canPause() const
{
    return m_phase == RecordingPhase::Live;
}

bool TranscriptionViewModel::canResume() const
{
    return m_phase == RecordingPhase::Paused;
}

bool TranscriptionViewModel::canSave() const
{
    return !m_segments->isEmpty() && !isRecording();
}

bool TranscriptionViewModel::isTranscriptBusy() const
{
    return m_phase != RecordingPhase::Idle;
}

QString TranscriptionViewModel::transcriptText() const
{
    return vernalo::transcriptText(m_segments->segments());
}

int TranscriptionViewModel::audioFramesSent() const
{
    return m_pipeline->audioFramesSent();
}

double TranscriptionViewModel::outgoingAudioLevel() const
{
    return m_pipeline->outgoingAudioLevel();
}

double TranscriptionViewModel::outgoingAudioPeak() const
{
    return m_pipeline->outgoingAudioPeak();
}

QString TranscriptionViewModel::statusText() const
{
    return m_status->text();
}

QString TranscriptionViewModel::diagnosticHint() const
{
    return m_status->hint();
}

void TranscriptionViewModel::setStatusText(const QString &text)
{
    m_status->setText(text);
}

void TranscriptionViewModel::setDiagnosticHint(const QString &hint)
{
    m_status->setHint(hint);
}

void TranscriptionViewModel::setInterimText(const QString &text)
{
    if (m_interimText == text)
        return;
    m_interimText = text;
    emit interimTextChanged();
}

void TranscriptionViewModel::setSessionId(const QString &id)
{
    if (m_sessionId == id)
        return;
    m_sessionId = id;
    emit sessionIdChanged();
}

const STTConfiguration &TranscriptionViewModel::configuration() const
{
    return m_settings->configuration();
}

STTConfiguration &TranscriptionViewModel::currentConfig()
{
    return m_settings->mutableConfiguration();
}

void TranscriptionViewModel::setPhase(RecordingPhase phase)
{
    if (m_phase == phase)
        return;
    const bool recordingChanged = isRecordingPhase(m_phase) != isRecordingPhase(phase);
    m_phase = phase;
    // The running capture, its pipeline and its status texts were set up for one mode.
    m_settings->setLocked(isStoppablePhase(phase));
    // Paused audio goes out as silence of the same length.
    m_pipeline->setPaused(isPausedPhase(phase));
    emit recordingStateChanged();
    if (recordingChanged)
        emit canSaveChanged();
}

void TranscriptionViewModel::setFallbackNoticeVisible(bool visible)
{
    if (m_fallbackNoticeVisible == visible)
        return;
    m_fallbackNoticeVisible = visible;
    emit fallbackNoticeVisibleChanged();
}

void TranscriptionViewModel::setPauseElapsedLabel(const QString &label)
{
    if (m_pauseElapsedLabel == label)
        return;
    m_pauseElapsedLabel = label;
    emit pauseElapsedLabelChanged();
}

} // namespace vernalo
