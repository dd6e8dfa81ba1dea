// The capture sources of a recording: the permission check before a start, the wiring of the
// microphone and the system audio through the outgoing pipeline into the stream, and the
// reaction to a system-audio start refused by the sound server.
#include "audio/microphone_capture.h"
#include "audio/outgoing_audio_pipeline.h"
#include "audio/system_audio_capture.h"
#include "recording/transcription_view_model.h"

namespace vernalo {

QCoro::Task<bool> TranscriptionViewModel::ensurePermissionsForMode(AudioInputMode mode)
{
    // System audio has no consent to ask for here: its start fails when access is missing.
    if (mode == AudioInputMode::SystemAudio)
        co_return true;
    MicrophoneCapture *microphone = m_microphone;
    const bool granted = co_await microphone->requestPermission();
    co_return granted;
}

void TranscriptionViewModel::activateLiveCapture(AudioInputMode mode, WebSocketStreamClient *client,
                                                 quint32 selectedMicID,
                                                 quint32 selectedSystemDisplayID,
                                                 const QString &selectedSystemApplicationBundleID)
{
    const QPointer<WebSocketStreamClient> target(client);
    m_pipeline->setMixSettings(m_mix);
    m_pipeline->setPaused(m_isPaused);
    m_pipeline->activate(mode, [target](const QByteArray &chunk) {
        if (target)
            target->sendAudio(chunk);
    });

    // The capture objects outlive the controller; their callbacks must notice when it is gone.
    const QPointer<OutgoingAudioPipeline> pipeline(m_pipeline);
    const bool withMicrophone = mode != AudioInputMode::SystemAudio;
    const bool withSystemAudio = mode != AudioInputMode::Microphone;
    if (withSystemAudio) {
        m_systemAudio->setPreferredDisplayID(
            selectedSystemDisplayID == 0 ? std::nullopt : std::optional(selectedSystemDisplayID));
        m_systemAudio->setPreferredApplicationBundleID(selectedSystemApplicationBundleID);
        m_systemAudio->onRawAudioSample = [pipeline] {
            if (pipeline)
                pipeline->noteSystemRawSample();
        };
        m_systemAudio->onPCMFrame = [pipeline](const QByteArray &chunk) {
            if (pipeline)
                pipeline->pushSystemChunk(chunk);
        };
    } else {
        m_systemAudio->onRawAudioSample = nullptr;
    }
    if (withMicrophone) {
        m_microphone->onPCMFrame = microphoneChunkHandler();
        m_microphone->setPreferredInputDeviceID(selectedMicID == 0 ? std::nullopt
                                                                   : std::optional(selectedMicID));
        m_microphone->start();
    }
    if (withSystemAudio)
        m_systemAudio->start();
}

void TranscriptionViewModel::deactivateLiveCapture()
{
    m_microphoneLiveness.cancel();
    m_microphone->onPCMFrame = nullptr;
    m_microphone->stop();
    m_systemAudio->onPCMFrame = nullptr;
    m_systemAudio->onRawAudioSample = nullptr;
    m_systemAudio->stop();
    m_pipeline->deactivate();
}

void TranscriptionViewModel::disposeStreamClient()
{
    m_keepAliveClient = nullptr;
    m_webSocketClient.reset();
}

void TranscriptionViewModel::cancelRecordingJobs()
{
    m_audioKeepAlive->stop();
    m_keepAliveClient = nullptr;
    m_transcriptPoll.cancel();
    m_sessionMetaPoll.cancel();
    m_microphoneLiveness.cancel();
}

void TranscriptionViewModel::handleSystemAudioPermissionError(SystemAudioCaptureError::Kind kind)
{
    applySystemAudioPermissionSnapshot(m_systemAudio->permissionSnapshot());
    const SystemAudioPermissionErrorOutcome outcome = systemAudioPermissionErrorOutcome(kind);
    bool changed = false;
    if (outcome.shouldSuggestRelaunch &&
        *outcome.shouldSuggestRelaunch != m_shouldSuggestSystemAudioRelaunch) {
        m_shouldSuggestSystemAudioRelaunch = *outcome.shouldSuggestRelaunch;
        changed = true;
    }
    if (outcome.showPermissionHelp &&
        *outcome.showPermissionHelp != m_showSystemAudioPermissionHelp) {
        m_showSystemAudioPermissionHelp = *outcome.showPermissionHelp;
        changed = true;
    }
    if (changed)
        emit systemAudioPermissionChanged();
    if (outcome.diagnosticHint)
        setDiagnosticHint(*outcome.diagnosticHint);
    if (outcome.statusText)
        setStatusText(*outcome.statusText);
}

} // namespace vernalo
