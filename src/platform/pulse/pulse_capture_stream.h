#pragma once

#include "audio/stream_resampler.h"
#include "ports/audio_system.h"
#include "pulse/pulse_connection.h"

#include <memory>

namespace vernalo::pulse {

// Frames the stream format as the core sees it; Unsupported for anything but float32le/s16le.
SampleFormat sampleFormatOf(pa_sample_format_t format);

// Collects 16 kHz mono samples on the loop thread and posts them to the main-thread object as
// framesArrived in batches of at least 50 ms: servers hand over a few milliseconds at a time, and
// every hop to the main thread costs a wake-up.
class MonoBatcher
{
public:
    static constexpr size_t kBatchSamples = 800;
    void add(AudioCaptureStream *stream, const bool *closed, const std::vector<float> &samples);

private:
    std::vector<float> m_pending;
};

// One record stream on a source (a microphone). The server hands over float at the source's own
// rate and channels; the read callback takes the mean of the channels (servers downmix at
// different levels), filters it down to 16 kHz on the loop thread and posts the result to the
// thread that opened the stream. Opening does not wait for the server: a
// stream that fails to start, or stops later, reports ended().
class PulseCaptureStream final : public AudioCaptureStream
{
    Q_OBJECT
public:
    struct Options
    {
        QByteArray device; // source name
        pa_sample_spec sourceSpec {PA_SAMPLE_FLOAT32LE, 48000, 1};
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
    PulseCaptureStream(std::shared_ptr<PulseConnection> connection,
                       const pa_sample_spec &sampleSpec);

    static void stateCallback(pa_stream *stream, void *userdata);
    static void readCallback(pa_stream *stream, size_t bytes, void *userdata);

    std::shared_ptr<PulseConnection> m_connection;
    pa_stream *m_stream = nullptr;
    pa_sample_spec m_spec;
    StreamResampler m_resampler; // loop thread
    MonoBatcher m_batcher; // loop thread
    bool m_endReported = false; // loop thread
    std::shared_ptr<bool> m_open = std::make_shared<bool>(true); // false once closed (lock held)
    bool m_closed = false; // main thread only
};

// The mean of the channels of interleaved float frames.
std::vector<float> meanOfChannels(const float *samples, size_t count, int channels);

} // namespace vernalo::pulse
