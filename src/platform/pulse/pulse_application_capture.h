#pragma once

#include "ports/audio_system.h"
#include "pulse/pulse_connection.h"

#include <memory>

namespace vernalo::pulse {

// The application a playback stream or client belongs to: its binary, else its application id.
AudioPlaybackInfo playbackInfoOf(pa_proplist *properties);

// Records the playback of one application, or of every application but this program when the
// id is empty: every playback stream (sink input) of it, on whichever output, gets its own
// monitor stream, and the monitor streams are mixed into one and filtered down to 16 kHz. Streams
// that appear later are followed, streams that move to another output are re-recorded there, and a
// stream that ends is simply dropped from the mix: the application may start another one at any
// time. Only a lost server connection ends the capture.
class PulseApplicationCapture final : public AudioCaptureStream
{
    Q_OBJECT
public:
    static CaptureOpenResult open(const std::shared_ptr<PulseConnection> &connection,
                                  const QString &applicationId, qint64 ownProcessId,
                                  const QString &ownApplicationId, int fragmentFrames);
    ~PulseApplicationCapture() override;

    void close() override;
    QString formatName() const override { return QStringLiteral("float32le"); }
    int bitsPerSample() const override { return 32; }

private:
    struct State;
    struct Follower;

    PulseApplicationCapture() = default;
    void postEnded(const AudioServerError &error);

    std::shared_ptr<State> m_state;
    bool m_closed = false; // main thread only
};

} // namespace vernalo::pulse
