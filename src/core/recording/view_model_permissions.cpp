// Capture permissions on the settings screen: snapshots, the request buttons, the sound
// settings and the relaunch.
#include "audio/microphone_capture.h"
#include "audio/system_audio_capture.h"
#include "ports/desktop_services.h"
#include "recording/transcription_view_model.h"

namespace vernalo {

void TranscriptionViewModel::applyMicrophonePermissionSnapshot(
    const MicrophonePermissionSnapshot &snapshot)
{
    if (m_micPermission == snapshot)
        return;
    m_micPermission = snapshot;
    emit microphonePermissionChanged();
}

void TranscriptionViewModel::applySystemAudioPermissionSnapshot(
    const SystemAudioPermissionSnapshot &snapshot)
{
    if (m_systemPermission == snapshot)
        return;
    m_systemPermission = snapshot;
    emit systemAudioPermissionChanged();
}

void TranscriptionViewModel::refreshMicrophonePermissionStatus(bool showStatus)
{
    applyMicrophonePermissionSnapshot(m_microphone->permissionSnapshot());
    if (showStatus)
        setStatusText(m_micPermission.summaryText);
}

void TranscriptionViewModel::refreshSystemAudioPermissionStatus(bool showStatus, bool activelyProbe)
{
    applySystemAudioPermissionSnapshot(m_systemAudio->permissionSnapshot());
    if (showStatus)
        setStatusText(m_systemPermission.summaryText);
    if (!activelyProbe)
        return;
    // The probe asks the sound server for its displays, which the quick snapshot does not.
    applySystemAudioPermissionSnapshot(m_systemAudio->currentPermissionSnapshot());
    if (showStatus)
        setStatusText(m_systemPermission.summaryText);
}

void TranscriptionViewModel::requestMicrophonePermissionFromUI()
{
    if (m_isRequestingMicPermission)
        return;
    m_isRequestingMicPermission = true;
    emit microphonePermissionChanged();
    setStatusText(QStringLiteral("Pyydetään mikrofonilupaa..."));
    runMicrophonePermissionRequest();
}

QCoro::Task<> TranscriptionViewModel::runMicrophonePermissionRequest()
{
    QPointer<TranscriptionViewModel> self(this);
    MicrophoneCapture *microphone = m_microphone;
    const bool granted = co_await microphone->requestPermission();
    if (!self)
        co_return;
    const MicrophonePermissionSnapshot snapshot = m_microphone->permissionSnapshot();
    m_isRequestingMicPermission = false;
    emit microphonePermissionChanged();
    applyMicrophonePermissionSnapshot(snapshot);
    setStatusText(microphoneRequestStatusText(granted, snapshot));
}

void TranscriptionViewModel::requestSystemAudioPermissionFromUI()
{
    if (m_isRequestingSystemPermission)
        return;
    m_isRequestingSystemPermission = true;
    emit systemAudioPermissionChanged();
    setStatusText(QStringLiteral("Pyydetään systeemiäänilupaa..."));
    runSystemAudioPermissionRequest();
}

QCoro::Task<> TranscriptionViewModel::runSystemAudioPermissionRequest()
{
    QPointer<TranscriptionViewModel> self(this);
    SystemAudioCapture *systemAudio = m_systemAudio;
    const bool result = co_await systemAudio->requestPermission();
    if (!self)
        co_return;
    const SystemAudioPermissionSnapshot snapshot = m_systemAudio->currentPermissionSnapshot();
    m_isRequestingSystemPermission = false;
    const SystemAudioRequestOutcome outcome = systemAudioRequestOutcome(result, snapshot);
    if (outcome.shouldSuggestRelaunch)
        m_shouldSuggestSystemAudioRelaunch = *outcome.shouldSuggestRelaunch;
    if (outcome.showPermissionHelp)
        m_showSystemAudioPermissionHelp = *outcome.showPermissionHelp;
    m_systemPermission = snapshot;
    emit systemAudioPermissionChanged();
    setStatusText(outcome.statusText);
}

void TranscriptionViewModel::openMicrophoneSystemSettings()
{
    setStatusText(openCaptureSoundSettings(*m_desktop, CaptureSettingsPane::Microphone));
}

void TranscriptionViewModel::openSystemAudioSystemSettings()
{
    setStatusText(openCaptureSoundSettings(*m_desktop, CaptureSettingsPane::SystemAudio));
}

void TranscriptionViewModel::relaunchApplication()
{
    if (const std::optional<QString> error = m_desktop->relaunch())
        setStatusText(QStringLiteral("Uudelleenkäynnistys epäonnistui: ") + *error);
}

} // namespace vernalo
