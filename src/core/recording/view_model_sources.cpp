// The source pickers: microphones with their stable-device rule, displays and applications for
// system audio, and the selections stored in the configuration.
#include "audio/capture_source_lists.h"
#include "audio/system_audio_capture.h"
#include "foundation/text.h"
#include "ports/audio_system.h"
#include "recording/transcription_view_model.h"

namespace vernalo {

void TranscriptionViewModel::refreshInputDevices()
{
    const AudioSourceList sources = m_audioSystem->listSources();
    const InputDeviceRefresh refresh =
        vernalo::refreshInputDevices(inputDeviceInventory(sources), m_selectedInputDeviceID);
    if (refresh.availableInputDevices != m_inputDevices ||
        refresh.recommendedInputDeviceName != m_recommendedInputDeviceName) {
        m_inputDevices = refresh.availableInputDevices;
        m_recommendedInputDeviceName = refresh.recommendedInputDeviceName;
        emit inputDevicesChanged();
    }
    // A server that cannot be asked says nothing about the stored microphone: it stays.
    if (refresh.selectionChanged && !sources.error)
        storeSelectedInputDevice(refresh.selectedInputDeviceID);
}

void TranscriptionViewModel::storeSelectedInputDevice(quint32 id)
{
    setSelectedInputDeviceID(id);
    saveConfig(false);
}

void TranscriptionViewModel::setPreferredInputDevice(uint id)
{
    const StableInputSelection selection = stableInputDeviceSelection(
        id, inputDeviceInventory(m_audioSystem->listSources()), m_inputDevices);
    const bool changed = selection.id != m_selectedInputDeviceID;
    storeSelectedInputDevice(selection.id);
    if (changed && m_phase == RecordingPhase::Live) {
        restartMicrophoneCaptureForLiveDeviceChange(selection.id);
        return;
    }
    setStatusText(QStringLiteral("Mikrofoni päivitetty"));
}

void TranscriptionViewModel::refreshSystemAudioDisplays()
{
    const QList<SystemAudioDisplayOption> displays = m_systemAudio->listDisplaySources();
    if (displays != m_displays) {
        m_displays = displays;
        emit systemSourcesChanged();
    }
    const quint32 selected = normalizedDisplaySelection(m_displays, m_selectedSystemDisplayID);
    if (selected != m_selectedSystemDisplayID) {
        setSelectedSystemSource(selected, m_selectedSystemApplicationBundleID);
        saveConfig(false);
    }
}

void TranscriptionViewModel::refreshSystemAudioApplications()
{
    QList<SystemAudioApplicationOption> applications;
    try {
        applications = m_systemAudio->listApplicationSources();
    } catch (const SystemAudioCaptureError &) {
        // The sound server could not be asked: nothing to offer, and nothing is known about the
        // stored choice, which therefore stays.
        if (!m_applications.isEmpty()) {
            m_applications.clear();
            emit systemSourcesChanged();
        }
        return;
    }
    if (applications != m_applications) {
        m_applications = applications;
        emit systemSourcesChanged();
    }
    const QString selected =
        normalizedApplicationSelection(m_applications, m_selectedSystemApplicationBundleID);
    if (selected != m_selectedSystemApplicationBundleID) {
        setSelectedSystemSource(m_selectedSystemDisplayID, selected);
        saveConfig(false);
    }
}

void TranscriptionViewModel::setPreferredSystemDisplay(uint id)
{
    setSelectedSystemSource(id, m_selectedSystemApplicationBundleID);
    saveConfig(false);
    setStatusText(QStringLiteral("Systeemiäänen lähde päivitetty"));
}

void TranscriptionViewModel::setPreferredSystemApplication(const QString &bundleIdentifier)
{
    setSelectedSystemSource(m_selectedSystemDisplayID, trimmedInput(bundleIdentifier));
    saveConfig(false);
    setStatusText(QStringLiteral("Systeemiäänen sovellussuodatin päivitetty"));
}

} // namespace vernalo
