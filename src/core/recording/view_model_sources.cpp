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
    const InputDeviceRefresh refresh = vernalo::refreshInputDevices(
        inputDeviceInventory(sources), m_sources->selectedInputDeviceID());
    m_sources->setInputDevices(refresh.availableInputDevices, refresh.recommendedInputDeviceName);
    // A server that cannot be asked says nothing about the stored microphone: it stays.
    if (refresh.selectionChanged && !sources.error)
        storeSelectedInputDevice(refresh.selectedInputDeviceID);
}

void TranscriptionViewModel::storeSelectedInputDevice(quint32 id)
{
    m_sources->setSelectedInputDeviceID(id);
    saveConfig(false);
}

void TranscriptionViewModel::setPreferredInputDevice(uint id)
{
    const StableInputSelection selection = stableInputDeviceSelection(
        id, inputDeviceInventory(m_audioSystem->listSources()), m_sources->availableInputDevices());
    const bool changed = selection.id != m_sources->selectedInputDeviceID();
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
    m_sources->setDisplays(displays);
    const quint32 selected = normalizedDisplaySelection(m_sources->availableSystemDisplays(),
                                                        m_sources->selectedSystemDisplayID());
    if (selected != m_sources->selectedSystemDisplayID()) {
        m_sources->setSelectedSystemSource(selected,
                                           m_sources->selectedSystemApplicationBundleID());
        saveConfig(false);
    }
}

void TranscriptionViewModel::refreshSystemAudioApplications()
{
    QList<SystemAudioApplicationOption> applications;
    try {
        applications =
            m_systemAudio->listApplicationSources(m_sources->selectedSystemApplicationBundleID());
    } catch (const SystemAudioCaptureError &) {
        // The sound server could not be asked: nothing to offer, and nothing is known about the
        // stored choice, which therefore stays.
        m_sources->setApplications({});
        return;
    }
    m_sources->setApplications(applications);
    const QString selected = normalizedApplicationSelection(
        m_sources->availableSystemApplications(), m_sources->selectedSystemApplicationBundleID());
    if (selected != m_sources->selectedSystemApplicationBundleID()) {
        m_sources->setSelectedSystemSource(m_sources->selectedSystemDisplayID(), selected);
        saveConfig(false);
    }
}

void TranscriptionViewModel::setPreferredSystemDisplay(uint id)
{
    m_sources->setSelectedSystemSource(id, m_sources->selectedSystemApplicationBundleID());
    saveConfig(false);
    setStatusText(QStringLiteral("Systeemiäänen lähde päivitetty"));
}

void TranscriptionViewModel::setPreferredSystemApplication(const QString &bundleIdentifier)
{
    m_sources->setSelectedSystemSource(m_sources->selectedSystemDisplayID(),
                                       trimmedInput(bundleIdentifier));
    saveConfig(false);
    setStatusText(QStringLiteral("Systeemiäänen sovellussuodatin päivitetty"));
}

} // namespace vernalo
