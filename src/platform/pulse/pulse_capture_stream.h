#pragma once

#include "ports/audio_system.h"
#include "pulse/pulse_connection.h"

#include <memory>

namespace vernalo::pulse {

// Frames the stream format as the core sees it; Unsupported for anything but float32le/s16le.
SampleFormat sampleFormatOf(pa_sample_format_t format);

// One record stream on a source (a microphone or a monitor). The read callback copies the
// bytes and posts them to the thread that opened the stream.
class PulseCaptureStream final : public AudioCaptureStream
{
    Q_OBJECT
public:
    struct Options
    {
        QByteArray device; // source name, or "@DEFAULT_MONITOR@"
        pa_sample_spec sampleSpec {};
        std::optional<pa_channel_map> channelMap;
        int fragmentFrames = 1024;
        bool dontMove = false; // fail instead of following the server to another source
        const char *streamName = "Vernalo capture";
    };

    static CaptureOpenResult open(const std::shared_ptr<PulseConnection> &connection,
                                  const Options &options);
    ~PulseCaptureStream() override;

    void close() override;
    QString formatName() const override;
    int bitsPerSample() const override;

private:
    PulseCaptureStream(std::shared_ptr<PulseConnection> connection, const pa_sample_spec &sampleSpec);

    static void stateCallback(pa_stream *stream, void *userdata);
    static void readCallback(pa_stream *stream, size_t bytes, void *userdata);
    void postFrames(QByteArray bytes);

    std::shared_ptr<PulseConnection> m_connection;
    pa_stream *m_stream = nullptr;
    pa_sample_spec m_spec;
    bool m_ready = false; // under the loop lock
    bool m_closed = false; // main thread only
};

} // namespace vernalo::pulse
