#include "pulse/pulse_capture_stream.h"

#include <QMetaObject>
#include <QPointer>

namespace vernalo::pulse {

SampleFormat sampleFormatOf(pa_sample_format_t format)
{
    switch (format) {
    case PA_SAMPLE_FLOAT32LE:
        return SampleFormat::Float32;
    case PA_SAMPLE_S16LE:
        return SampleFormat::Int16;
    default:
        return SampleFormat::Unsupported;
    }
}

std::vector<float> meanOfChannels(const float *samples, size_t count, int channels)
{
    if (channels <= 1)
        return {samples, samples + count};
    std::vector<float> mono(count / static_cast<size_t>(channels));
    for (size_t i = 0; i < mono.size(); ++i) {
        float sum = 0.0f;
        for (int c = 0; c < channels; ++c)
            sum += samples[i * static_cast<size_t>(channels) + static_cast<size_t>(c)];
        mono[i] = sum / static_cast<float>(channels);
    }
    return mono;
}

void MonoBatcher::add(AudioCaptureStream *stream, const bool *closed,
                      const std::vector<float> &samples)
{
    m_pending.insert(m_pending.end(), samples.begin(), samples.end());
    if (m_pending.size() < kBatchSamples)
        return;
    RawAudioFrames frames;
    frames.bytes = QByteArray(reinterpret_cast<const char *>(m_pending.data()),
                              static_cast<qsizetype>(m_pending.size() * sizeof(float)));
    m_pending.clear();
    frames.format = SampleFormat::Float32;
    frames.channels = 1;
    frames.sampleRate = pcm::kSampleRate;
    frames.interleaved = true;
    QMetaObject::invokeMethod(
        stream,
        [stream, closed, frames = std::move(frames)] {
            if (!*closed)
                Q_EMIT stream->framesArrived(frames);
        },
        Qt::QueuedConnection);
}

PulseCaptureStream::PulseCaptureStream(std::shared_ptr<PulseConnection> connection,
                                       const pa_sample_spec &sampleSpec)
    : m_connection(std::move(connection))
    , m_spec(sampleSpec)
    , m_resampler(sampleSpec.rate)
{ }

CaptureOpenResult PulseCaptureStream::open(const std::shared_ptr<PulseConnection> &connection,
                                           const Options &options)
{
    CaptureOpenResult result;
    PulseConnection::Lock lock(*connection);
    if (!connection->isReady()) {
        result.error = connection->lastError();
        return result;
    }
    // Float at the source's own rate and channels: the filtering to 16 kHz is ours (the
    // server's default resampler lets aliases through).
    const pa_sample_spec format {PA_SAMPLE_FLOAT32LE, options.sourceSpec.rate,
                                 options.sourceSpec.channels};
    pa_stream *raw = pa_stream_new(connection->context(), options.streamName, &format,
                                   options.channelMap ? &*options.channelMap : nullptr);
    if (!raw) {
        result.error = connection->lastError();
        return result;
    }
    std::unique_ptr<PulseCaptureStream> stream(new PulseCaptureStream(connection, format));
    stream->m_stream = raw;
    pa_stream_set_state_callback(raw, &PulseCaptureStream::stateCallback, stream.get());
    pa_stream_set_read_callback(raw, &PulseCaptureStream::readCallback, stream.get());

    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(-1);
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(options.fragmentFrames) *
        static_cast<uint32_t>(pa_frame_size(&format));
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                (options.dontMove ? PA_STREAM_DONT_MOVE : 0));
    if (pa_stream_connect_record(raw, options.device.constData(), &attributes, flags) < 0) {
        result.error = connection->lastError();
        return result; // the loop lock is recursive, so the stream may close itself here
    }
    result.stream = std::move(stream);
    return result;
}

PulseCaptureStream::~PulseCaptureStream()
{
    close();
}

void PulseCaptureStream::close()
{
    if (m_closed)
        return;
    m_closed = true;
    PulseConnection::Lock lock(*m_connection);
    *m_open = false;
    if (m_stream) {
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
            pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
}

QString PulseCaptureStream::formatName() const
{
    return QString::fromLatin1(pa_sample_format_to_string(m_spec.format));
}

int PulseCaptureStream::bitsPerSample() const
{
    return static_cast<int>(pa_sample_size_of_format(m_spec.format)) * 8;
}

void PulseCaptureStream::stateCallback(pa_stream *stream, void *userdata)
{
    auto *self = static_cast<PulseCaptureStream *>(userdata);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && !self->m_endReported) {
        self->m_endReported = true;
        AudioServerError error = self->m_connection->lastError();
        if (error.code == 0) // ended by a server that went away without saying why
            error = PulseConnection::errorFromCode(PA_ERR_CONNECTIONTERMINATED);
        self->m_connection->reportStreamEnd([self, open = self->m_open, error] {
            if (!*open)
                return; // closed (and perhaps gone) meanwhile
            QMetaObject::invokeMethod(
                self,
                [self, error] {
                    if (!self->m_closed)
                        Q_EMIT self->ended(error);
                },
                Qt::QueuedConnection);
        });
    }
    self->m_connection->signal();
}

void PulseCaptureStream::readCallback(pa_stream *stream, size_t, void *userdata)
{
    auto *self = static_cast<PulseCaptureStream *>(userdata);
    std::vector<float> samples;
    while (pa_stream_readable_size(stream) > 0) {
        const void *data = nullptr;
        size_t length = 0;
        if (pa_stream_peek(stream, &data, &length) < 0 || length == 0)
            break;
        if (data) { // a hole (data null, length set) carries no samples
            const auto out = self->m_resampler.process(meanOfChannels(
                static_cast<const float *>(data), length / sizeof(float), self->m_spec.channels));
            samples.insert(samples.end(), out.begin(), out.end());
        }
        pa_stream_drop(stream);
    }
    self->m_batcher.add(self, &self->m_closed, samples);
}

} // namespace vernalo::pulse
