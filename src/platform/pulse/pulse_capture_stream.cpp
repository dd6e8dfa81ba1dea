#include "pulse/pulse_capture_stream.h"

#include <QMetaObject>

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

PulseCaptureStream::PulseCaptureStream(std::shared_ptr<PulseConnection> connection,
                                       const pa_sample_spec &sampleSpec)
    : m_connection(std::move(connection))
    , m_spec(sampleSpec)
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
    pa_stream *raw = pa_stream_new(connection->context(), options.streamName, &options.sampleSpec,
                                   options.channelMap ? &*options.channelMap : nullptr);
    if (!raw) {
        result.error = connection->lastError();
        return result;
    }
    std::unique_ptr<PulseCaptureStream> stream(new PulseCaptureStream(connection, options.sampleSpec));
    stream->m_stream = raw;
    pa_stream_set_state_callback(raw, &PulseCaptureStream::stateCallback, stream.get());
    pa_stream_set_read_callback(raw, &PulseCaptureStream::readCallback, stream.get());

    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(-1);
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(options.fragmentFrames) *
        static_cast<uint32_t>(pa_frame_size(&options.sampleSpec));
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                (options.dontMove ? PA_STREAM_DONT_MOVE : 0));
    if (pa_stream_connect_record(raw, options.device.constData(), &attributes, flags) < 0) {
        result.error = connection->lastError();
        return result; // the loop lock is recursive, so the stream may close itself here
    }
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(raw);
        if (state == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(state)) {
            result.error = connection->lastError();
            return result;
        }
        pa_threaded_mainloop_wait(connection->mainloop());
    }
    stream->m_ready = true;
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
    if (self->m_ready && (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)) {
        const AudioServerError error = self->m_connection->lastError();
        QMetaObject::invokeMethod(
            self,
            [self, error] {
                if (!self->m_closed)
                    Q_EMIT self->ended(error);
            },
            Qt::QueuedConnection);
    }
    self->m_connection->signal();
}

void PulseCaptureStream::readCallback(pa_stream *stream, size_t, void *userdata)
{
    auto *self = static_cast<PulseCaptureStream *>(userdata);
    QByteArray bytes;
    while (pa_stream_readable_size(stream) > 0) {
        const void *data = nullptr;
        size_t length = 0;
        if (pa_stream_peek(stream, &data, &length) < 0 || length == 0)
            break;
        if (data) // a hole (data null, length set) carries no samples
            bytes.append(static_cast<const char *>(data), static_cast<qsizetype>(length));
        pa_stream_drop(stream);
    }
    if (!bytes.isEmpty())
        self->postFrames(std::move(bytes));
}

void PulseCaptureStream::postFrames(QByteArray bytes)
{
    RawAudioFrames frames;
    frames.bytes = std::move(bytes);
    frames.format = sampleFormatOf(m_spec.format);
    frames.channels = m_spec.channels;
    frames.sampleRate = m_spec.rate;
    frames.interleaved = true;
    QMetaObject::invokeMethod(
        this,
        [this, frames = std::move(frames)] {
            if (!m_closed)
                Q_EMIT framesArrived(frames);
        },
        Qt::QueuedConnection);
}

} // namespace vernalo::pulse
