#pragma once

#include "audio/input_device_selection.h"
#include "foundation/models.h"
#include "ports/audio_system.h"

#include <optional>
#include <QList>
#include <QString>

namespace vernalo {

// The settings screen's lists of capture sources and the rules that keep a stored selection
// valid. The controller calls these and publishes the results.

// What refreshing the microphone list gives the controller.
struct InputDeviceRefresh
{
    QList<AudioInputDeviceOption> availableInputDevices;
    QString recommendedInputDeviceName; // the ranked stable device, empty when none
    quint32 selectedInputDeviceID = 0; // 0 = system default
    bool selectionChanged = false; // store the new selection and save the configuration
};

InputDeviceRefresh refreshInputDevices(const InputDeviceInventory &inventory,
                                       quint32 selectedInputDeviceID);

struct StableInputSelection
{
    quint32 id = 0;
    QString name;
};

// The device to use instead of a chosen one: a wireless headset is replaced by a stable
// microphone whenever one exists (logged); other choices stay. availableInputDevices is the
// list the user chose from, which names the requested device in the log line.
StableInputSelection
stableInputDeviceSelection(quint32 id, const InputDeviceInventory &inventory,
                           const QList<AudioInputDeviceOption> &availableInputDevices);

// "Näyttö <id> (<width>x<height>)".
SystemAudioDisplayOption displayOption(const AudioDisplayInfo &display);

// One option per application (playback streams grouped by application id), without this
// program and without streams of unknown origin, ordered by name. Within a group the
// alphabetically first name is shown; an empty name shows the id.
QList<SystemAudioApplicationOption>
groupApplicationSources(const QList<AudioPlaybackInfo> &playbacks, qint64 ownProcessId,
                        const QString &ownApplicationId);

// This program's application id as the sound server reports it (its binary name).
QString ownApplicationId();

// A stored selection that is not offered any more falls back to 0 / "".
quint32 normalizedDisplaySelection(const QList<SystemAudioDisplayOption> &displays,
                                   quint32 selected);
QString normalizedApplicationSelection(const QList<SystemAudioApplicationOption> &applications,
                                       const QString &selected);

} // namespace vernalo
