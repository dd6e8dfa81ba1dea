#pragma once

#include "ports/audio_system.h"

#include <functional>
#include <memory>

namespace vernalo::pulse {
class PulseConnection;
}

namespace vernalo {

// The desktop sound server through libpulse (PulseAudio, or PipeWire's pulse server). Queries
// wait for the local server on the calling thread; streams deliver on the thread that opened
// them. Create and use it on the main thread. A lost server is reconnected on the next call.
class PulseAudioSystem final : public AudioSystem
{
public:
    using DisplayProvider = std::function<QList<AudioDisplayInfo>()>;

    // Displays default to the Qt screens (none without a QGuiApplication).
    explicit PulseAudioSystem(DisplayProvider displays = {});
    ~PulseAudioSystem() override;

    AudioServerStatus serverStatus() override;
    AudioSourceList listSources() override;
    QList<AudioDisplayInfo> listDisplays() override;
    AudioPlaybackList listPlaybacks() override;
    CaptureOpenResult openCapture(const CaptureTarget &target) override;

private:
    std::shared_ptr<pulse::PulseConnection> connection(AudioServerError *error);
    CaptureOpenResult openSource(const std::shared_ptr<pulse::PulseConnection> &connection,
                                 const CaptureTarget &target);

    DisplayProvider m_displays;
    std::shared_ptr<pulse::PulseConnection> m_connection;
};

// The screens of the running QGuiApplication, numbered from 1.
QList<AudioDisplayInfo> qtScreenDisplays();

} // namespace vernalo
