// The capture sources of a recording: the permission check before a start, the wiring of the
// microphone and the system audio through the outgoing pipeline into the stream, and the
// reaction to a system-audio start refused by the sound server.
#include "audio/microphone_capture.h"
#include "audio/outgoing_audio_pipeline.h"
#include "audio/system_audio_capture.h"
#include "recording/capture_rig.h"
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
                                                 const CaptureSelection &selection)
{
    const QPointer<WebSocketStreamClient> target(client);
    m_pipeline->setMixSettings(m_settings->mix());
    m_pipeline->setPaused(isPaused());
    m_rig->start(mode, selection, [target](const QByteArray &chunk) {
        if (target)
            target->sendAudio(chunk);
    });
}

void TranscriptionViewModel::deactivateLiveCapture()
{
    m_microphoneLiveness.cancel();
    m_rig->stop();
}

void TranscriptionViewModel::disposeStreamClient()
{
    m_webSocketClient.reset();
}

void TranscriptionViewModel::cancelRecordingJobs()
{
    m_audioKeepAlive->stop();
    m_transcriptPoll.cancel();
    m_sessionMetaPoll.cancel();
    m_microphoneLiveness.cancel();
}

} // namespace vernalo
