#pragma once

#include "ports/audio_system.h"

#include <functional>
#include <memory>

namespace vernalo::pulse {
class PulseLoop;
class PulseServerWatch;
} // namespace vernalo::pulse

namespace vernalo {

// The desktop sound server through libpulse (PulseAudio, or PipeWire's pulse server). Queries
// read a snapshot that the loop thread keeps current from the server's change events, so they
// never wait for the server; a lost or hung server is noticed within two seconds, reported
// through events() and reconnected by itself. Streams deliver on the thread that opened them.
// Create and use it on the main thread.
class PulseAudioSystem final : public AudioSystem
{
public:
    using DisplayProvider = std::function<QList<AudioDisplayInfo>()>;

    // Displays default to the Qt screens (none without a QGuiApplication). Waits (two seconds
    // at most) for the server's first answer, so the first lists are not empty by accident.
    explicit PulseAudioSystem(DisplayProvider displays = {});
    ~PulseAudioSystem() override;

    AudioServerStatus serverStatus() override;
    AudioSourceList listSources() override;
    QList<AudioDisplayInfo> listDisplays() override;
    AudioPlaybackList listPlaybacks() override;
    CaptureOpenResult openCapture(const CaptureTarget &target) override;

private:
    DisplayProvider m_displays;
    std::shared_ptr<pulse::PulseLoop> m_loop;
    std::unique_ptr<pulse::PulseServerWatch> m_watch;
};

// The screens of the running QGuiApplication, numbered from 1.
QList<AudioDisplayInfo> qtScreenDisplays();

} // namespace vernalo
