#pragma once

#include "ports/audio_system.h"
#include "pulse/pulse_connection.h"

#include <memory>

namespace vernalo::pulse {

// The application a playback stream belongs to: its binary, else its application id.
AudioPlaybackInfo playbackInfoOf(const pa_sink_input_info &info);

// Records the playback of one application: every playback stream (sink input) of it gets its
// own monitor stream, and the monitor streams are mixed into one. Streams that appear later are
// followed, streams that move to another output are re-recorded there, and a stream that ends
// is simply dropped from the mix: the application may start another one at any time. Only a
// lost server connection ends the capture.
class PulseApplicationCapture final : public AudioCaptureStream
{
    Q_OBJECT
public:
    static CaptureOpenResult open(const std::shared_ptr<PulseConnection> &connection,
                                  const QString &applicationId, qint64 ownProcessId,
                                  int fragmentFrames);
    ~PulseApplicationCapture() override;

    void close() override;
    QString formatName() const override { return QStringLiteral("float32le"); }
    int bitsPerSample() const override { return 32; }

private:
    struct State;
    struct Follower;

    PulseApplicationCapture() = default;
    void postFrames(QByteArray bytes);
    void postEnded(const AudioServerError &error);

    std::shared_ptr<State> m_state;
    bool m_closed = false; // main thread only
};

} // namespace vernalo::pulse
