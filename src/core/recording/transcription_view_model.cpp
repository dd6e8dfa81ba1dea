// Construction, the published fields and their change signals.
#include "recording/transcription_view_model.h"

#include "audio/microphone_capture.h"
#include "audio/outgoing_audio_pipeline.h"
#include "audio/system_audio_capture.h"
#include "backend/health_status_texts.h"
#include "recording/capture_rig.h"
#include "recording/status_line.h"
#include "sessions/transcript_export.h"
#include "wire/clock.h"

namespace vernalo {

namespace {

QVariantList toVariantList(const auto &options)
{
    QVariantList list;
    list.reserve(options.size());
    for (const auto &option : options)
        list.append(option.toJson().toVariantMap());
    return list;
}

} // namespace

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
    , m_startAttemptID(QUuid::createUuid())
    , m_resumeAttemptID(QUuid::createUuid())
    , m_startRecordingTimeout(m_clock->createTimer(this))
    , m_resumeRecordingTimeout(m_clock->createTimer(this))
    , m_audioKeepAlive(m_clock->createTimer(this))
    , m_rig(new CaptureRig(m_microphone, m_systemAudio, m_clock, this))
    , m_pipeline(m_rig->pipeline())
    , m_segments(new TranscriptSegmentModel(this))
    , m_sessionHistory(new SessionHistoryModel(this))
    , m_memoAIBackendStatus(memoAIStatusUnknownLabel())
{
    m_status = new StatusLine(QStringLiteral("Valmis aloittamaan"), this);
    m_permissions =
        new RecordingPermissions(m_microphone, m_systemAudio, m_desktop, m_status, this);
    connect(m_status, &StatusLine::textChanged, this, &TranscriptionViewModel::statusTextChanged);
    connect(m_status, &StatusLine::hintChanged, this,
            &TranscriptionViewModel::diagnosticHintChanged);

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

QVariantMap TranscriptionViewModel::configMap() const
{
    return m_config.toJson().toVariantMap();
}

QStringList TranscriptionViewModel::availableLanguages() const
{
    return supportedLanguages();
}

QStringList TranscriptionViewModel::availableModels() const
{
    return supportedModels();
}

QVariantList TranscriptionViewModel::availableInputDeviceList() const
{
    return toVariantList(m_inputDevices);
}

QVariantList TranscriptionViewModel::availableSystemDisplayList() const
{
    return toVariantList(m_displays);
}

QVariantList TranscriptionViewModel::availableSystemApplicationList() const
{
    return toVariantList(m_applications);
}

bool TranscriptionViewModel::canStart() const
{
    // A stop still saving its recording owns the transcript until it is done.
    return m_phase == RecordingPhase::Idle && !m_isAudioTestRunning;
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

void TranscriptionViewModel::setPhase(RecordingPhase phase)
{
    if (m_phase == phase)
        return;
    const bool recordingChanged = isRecordingPhase(m_phase) != isRecordingPhase(phase);
    m_phase = phase;
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

void TranscriptionViewModel::setSelectedInputDeviceID(quint32 id)
{
    if (m_selectedInputDeviceID == id)
        return;
    m_selectedInputDeviceID = id;
    emit selectedInputDeviceIDChanged();
}

void TranscriptionViewModel::setSelectedSystemSource(quint32 displayID,
                                                     const QString &bundleIdentifier)
{
    if (m_selectedSystemDisplayID == displayID &&
        m_selectedSystemApplicationBundleID == bundleIdentifier)
        return;
    m_selectedSystemDisplayID = displayID;
    m_selectedSystemApplicationBundleID = bundleIdentifier;
    emit selectedSystemSourceChanged();
}

} // namespace vernalo
