#pragma once

#include "foundation/models.h"
#include "ports/audio_system.h"

#include <optional>
#include <QList>

namespace vernalo {

// A microphone as the selection rules see it.
struct InputDeviceInfo
{
    quint32 id = 0;
    QString name;
    bool isVirtual = false;
    bool isBuiltIn = false;
    bool isWirelessHeadset = false;

    bool operator==(const InputDeviceInfo &other) const = default;
    AudioInputDeviceOption option() const { return {id, name, isVirtual}; }
};

// The microphones of the server and its default input (kept only when it is one of them: the
// default source may be the monitor of a sink when no microphone is plugged in).
struct InputDeviceInventory
{
    QList<InputDeviceInfo> devices;
    std::optional<quint32> defaultId;
};

// How a source is attached, read from its bus, form factor and class.
enum class InputTransport { Unknown, BuiltIn, Usb, Bluetooth, Virtual };

InputTransport inputTransport(const AudioSourceInfo &source);

// Name rules (lower-cased substrings of the description and the server name) or transport.
// Only Bluetooth makes a wireless headset; a wired USB headset is a stable microphone.
InputDeviceInfo classifyInputDevice(const AudioSourceInfo &source);

// The microphones among the sources, in server order: monitors and sources without channels
// are never offered.
QList<InputDeviceInfo> listInputDevices(const QList<AudioSourceInfo> &sources);

InputDeviceInventory inputDeviceInventory(const AudioSourceList &list);

// Stable candidates are neither virtual nor wireless headsets. Ranking: the first built-in
// one, else the system default, else the first; `excluding` is left out beforehand.
std::optional<InputDeviceInfo> rankStableCandidates(const QList<InputDeviceInfo> &devices,
                                                    std::optional<quint32> defaultId,
                                                    std::optional<quint32> excluding = {});

// The device a capture opens: the preference unless it is a wireless headset with a stable
// alternative (logged), else the ranked stable device, else the first real one.
std::optional<InputDeviceInfo> pickPreferredInputDevice(const QList<InputDeviceInfo> &devices,
                                                        std::optional<quint32> preferredId,
                                                        std::optional<quint32> defaultId);

// A stable replacement for `id` when it names a wireless headset; none otherwise.
std::optional<InputDeviceInfo> stableFallbackInputDevice(const QList<InputDeviceInfo> &devices,
                                                         quint32 id,
                                                         std::optional<quint32> defaultId);

} // namespace vernalo
