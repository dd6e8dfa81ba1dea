// Capture permissions on the settings screen: snapshots, the request buttons, the sound
// settings and the relaunch.
#include "recording/recording_permissions.h"

#include "audio/microphone_capture.h"
#include "audio/system_audio_capture.h"
#include "ports/desktop_services.h"
#include "recording/status_line.h"

#include <QPointer>

namespace vernalo {

RecordingPermissions::RecordingPermissions(MicrophoneCapture *microphone,
                                           SystemAudioCapture *systemAudio,
                                           DesktopServices *desktop, StatusLine *status,
                                           QObject *parent)
    : QObject(parent)
    , m_microphone(microphone)
    , m_systemAudio(systemAudio)
    , m_desktop(desktop)
    , m_status(status)
{
    m_micPermission.summaryText = uncheckedMicrophonePermissionSummary();
    m_micPermission.canRequestPrompt = true;
    m_systemPermission.summaryText = uncheckedSystemAudioPermissionSummary();
    m_systemPermission.canRequestPrompt = true;
}

void RecordingPermissions::applyMicrophonePermissionSnapshot(
    const MicrophonePermissionSnapshot &snapshot)
{
    if (m_micPermission == snapshot)
        return;
    m_micPermission = snapshot;
    emit microphonePermissionChanged();
}

void RecordingPermissions::applySystemAudioPermissionSnapshot(
    const SystemAudioPermissionSnapshot &snapshot)
{
    if (m_systemPermission == snapshot)
        return;
    m_systemPermission = snapshot;
    emit systemAudioPermissionChanged();
}

void RecordingPermissions::refreshMicrophonePermissionStatus(bool showStatus)
{
    applyMicrophonePermissionSnapshot(m_microphone->permissionSnapshot());
    if (showStatus)
        m_status->setText(m_micPermission.summaryText);
}

void RecordingPermissions::refreshSystemAudioPermissionStatus(bool showStatus, bool activelyProbe)
{
    applySystemAudioPermissionSnapshot(m_systemAudio->permissionSnapshot());
    if (showStatus)
        m_status->setText(m_systemPermission.summaryText);
    if (!activelyProbe)
        return;
    // The probe asks the sound server for its displays, which the quick snapshot does not.
    applySystemAudioPermissionSnapshot(m_systemAudio->currentPermissionSnapshot());
    if (showStatus)
        m_status->setText(m_systemPermission.summaryText);
}

void RecordingPermissions::requestMicrophonePermissionFromUI()
{
    if (m_isRequestingMicPermission)
        return;
    m_isRequestingMicPermission = true;
    emit microphonePermissionChanged();
    m_status->setText(QStringLiteral("Pyydetään mikrofonilupaa..."));
    runMicrophonePermissionRequest();
}

QCoro::Task<> RecordingPermissions::runMicrophonePermissionRequest()
{
    QPointer<RecordingPermissions> self(this);
    MicrophoneCapture *microphone = m_microphone;
    const bool granted = co_await microphone->requestPermission();
    if (!self)
        co_return;
    const MicrophonePermissionSnapshot snapshot = m_microphone->permissionSnapshot();
    m_isRequestingMicPermission = false;
    emit microphonePermissionChanged();
    applyMicrophonePermissionSnapshot(snapshot);
    m_status->setText(microphoneRequestStatusText(granted, snapshot));
}

void RecordingPermissions::requestSystemAudioPermissionFromUI()
{
    if (m_isRequestingSystemPermission)
        return;
    m_isRequestingSystemPermission = true;
    emit systemAudioPermissionChanged();
    m_status->setText(QStringLiteral("Pyydetään systeemiäänilupaa..."));
    runSystemAudioPermissionRequest();
}

QCoro::Task<> RecordingPermissions::runSystemAudioPermissionRequest()
{
    QPointer<RecordingPermissions> self(this);
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
    m_status->setText(outcome.statusText);
}

void RecordingPermissions::applySystemAudioCaptureError(SystemAudioCaptureError::Kind kind)
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
        m_status->setHint(*outcome.diagnosticHint);
    if (outcome.statusText)
        m_status->setText(*outcome.statusText);
}

void RecordingPermissions::openMicrophoneSystemSettings()
{
    m_status->setText(openCaptureSoundSettings(*m_desktop, CaptureSettingsPane::Microphone));
}

void RecordingPermissions::openSystemAudioSystemSettings()
{
    m_status->setText(openCaptureSoundSettings(*m_desktop, CaptureSettingsPane::SystemAudio));
}

void RecordingPermissions::relaunchApplication()
{
    if (const std::optional<QString> error = m_desktop->relaunch())
        m_status->setText(QStringLiteral("Uudelleenkäynnistys epäonnistui: ") + *error);
}

} // namespace vernalo
