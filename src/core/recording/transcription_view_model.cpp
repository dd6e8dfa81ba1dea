// Construction, the published fields and their change signals.
#include "recording/transcription_view_model.h"

#include "audio/microphone_capture.h"
#include "audio/outgoing_audio_pipeline.h"
#include "audio/system_audio_capture.h"
#include "backend/health_status_texts.h"
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
    client->disconnect();
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
    , m_statusText(QStringLiteral("Valmis aloittamaan"))
    , m_startAttemptID(QUuid::createUuid())
    , m_resumeAttemptID(QUuid::createUuid())
    , m_startRecordingTimeout(m_clock->createTimer(this))
    , m_resumeRecordingTimeout(m_clock->createTimer(this))
    , m_audioKeepAlive(m_clock->createTimer(this))
    , m_pipeline(new OutgoingAudioPipeline(m_clock, this))
    , m_segments(new TranscriptSegmentModel(this))
    , m_sessionHistory(new SessionHistoryModel(this))
    , m_memoAIBackendStatus(memoAIStatusUnknownLabel())
{
    m_micPermission.summaryText = uncheckedMicrophonePermissionSummary();
    m_micPermission.canRequestPrompt = true;
    m_systemPermission.summaryText = uncheckedSystemAudioPermissionSummary();
    m_systemPermission.canRequestPrompt = true;

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
                if (m_isRecording && !m_isPaused && m_segments->isEmpty())
                    setStatusText(hint);
            });
    connect(m_segments, &TranscriptSegmentModel::countsChanged, this, [this] {
        emit transcriptChanged();
        emit canSaveChanged();
    });

    initHealthSupervision();

    loadConfiguration();
    refreshInputDevices();
    refreshMicrophonePermissionStatus(false);
    applySystemAudioPermissionSnapshot(m_systemAudio->permissionSnapshot());
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
    return !m_isStartingRecording && !m_isRecording && !m_isResumingRecording &&
        !m_isAudioTestRunning && !m_isStopping;
}

bool TranscriptionViewModel::canStop() const
{
    return m_isStartingRecording || m_isRecording || m_isResumingRecording;
}

bool TranscriptionViewModel::canPause() const
{
    return m_isRecording && !m_isPaused && !m_isResumingRecording;
}

bool TranscriptionViewModel::canResume() const
{
    return m_isRecording && m_isPaused && !m_isResumingRecording;
}

bool TranscriptionViewModel::canSave() const
{
    return !m_segments->isEmpty() && !m_isRecording;
}

bool TranscriptionViewModel::isTranscriptBusy() const
{
    return m_isStartingRecording || m_isRecording || m_isResumingRecording || m_isStopping;
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

void TranscriptionViewModel::setStatusText(const QString &text)
{
    if (m_statusText == text)
        return;
    m_statusText = text;
    emit statusTextChanged();
}

void TranscriptionViewModel::setDiagnosticHint(const QString &hint)
{
    if (m_diagnosticHint == hint)
        return;
    m_diagnosticHint = hint;
    emit diagnosticHintChanged();
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

void TranscriptionViewModel::setRecordingFlags(bool starting, bool recording, bool resuming,
                                               bool paused)
{
    if (m_isStartingRecording == starting && m_isRecording == recording &&
        m_isResumingRecording == resuming && m_isPaused == paused)
        return;
    const bool recordingChanged = m_isRecording != recording;
    m_isStartingRecording = starting;
    m_isRecording = recording;
    m_isResumingRecording = resuming;
    m_isPaused = paused;
    // Paused audio goes out as silence of the same length.
    m_pipeline->setPaused(paused);
    emit recordingStateChanged();
    if (recordingChanged)
        emit canSaveChanged();
}

void TranscriptionViewModel::setStopping(bool stopping)
{
    if (m_isStopping == stopping)
        return;
    m_isStopping = stopping;
    emit recordingStateChanged();
}

void TranscriptionViewModel::setPaused(bool paused)
{
    setRecordingFlags(m_isStartingRecording, m_isRecording, m_isResumingRecording, paused);
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
