#include "pulse/pulse_application_capture.h"

#include "audio/stream_resampler.h"
#include "pulse/monitor_mixer.h"
#include "pulse/pulse_capture_stream.h"

#include <map>
#include <QByteArrayView>
#include <QMetaObject>

namespace vernalo::pulse {

namespace {

// Every monitor stream is asked for the same format so they can be summed as they are.
constexpr pa_sample_spec kMixSpec {PA_SAMPLE_FLOAT32LE, 48000, 2};
constexpr qsizetype kMaxLagFrames = 4800; // 100 ms
// A monitor stream that keeps failing at once is given up after this many tries.
constexpr int kMaxReattachAttempts = 5;

QString property(pa_proplist *properties, const char *key)
{
    const char *value = properties ? pa_proplist_gets(properties, key) : nullptr;
    return value ? QString::fromUtf8(value) : QString();
}

bool readsAMonitor(pa_stream *stream)
{
    const char *device = pa_stream_get_device_name(stream);
    return device && QByteArrayView(device).endsWith(".monitor");
}

} // namespace

AudioPlaybackInfo playbackInfoOf(pa_proplist *properties)
{
    AudioPlaybackInfo playback;
    playback.applicationId = property(properties, PA_PROP_APPLICATION_PROCESS_BINARY);
    if (playback.applicationId.isEmpty())
        playback.applicationId = property(properties, PA_PROP_APPLICATION_ID);
    playback.applicationName = property(properties, PA_PROP_APPLICATION_NAME);
    playback.processId = property(properties, PA_PROP_APPLICATION_PROCESS_ID).toLongLong();
    return playback;
}

struct PulseApplicationCapture::Follower
{
    State *state = nullptr;
    uint32_t sinkInput = PA_INVALID_INDEX;
    uint32_t sink = PA_INVALID_INDEX;
    pa_stream *stream = nullptr;
};

// Lives on the loop thread (touched only with the loop lock held). Pending server queries hold
// it weakly, so a query that answers after close() finds it closed or gone.
struct PulseApplicationCapture::State : std::enable_shared_from_this<State>
{
    std::shared_ptr<PulseConnection> connection;
    QString applicationId; // empty: every application but this program
    qint64 ownProcessId = 0;
    QString ownApplicationId;
    int fragmentFrames = 1024;
    StreamResampler resampler {kMixSpec.rate};
    MonoBatcher batcher;
    PulseApplicationCapture *owner = nullptr; // null once closed
    std::optional<PulseConnection::WatcherHandle> watcher;
    MonitorMixer mixer {kMixSpec.channels, kMaxLagFrames};
    std::map<uint32_t, std::unique_ptr<Follower>> followers;
    std::map<uint32_t, int> reattachAttempts;

    bool matches(const pa_sink_input_info &info) const
    {
        const AudioPlaybackInfo playback = playbackInfoOf(info.proplist);
        if (ownProcessId != 0 && playback.processId == ownProcessId)
            return false;
        if (applicationId.isEmpty())
            return ownApplicationId.isEmpty() || playback.applicationId != ownApplicationId;
        return playback.applicationId == applicationId;
    }

    // One playback stream, or every one there is now (later ones arrive as events). Pending
    // queries hold the state weakly.
    void lookUp(std::optional<uint32_t> sinkInput)
    {
        auto *weak = new std::weak_ptr<State>(weak_from_this());
        const pa_sink_input_info_cb_t answer = [](pa_context *, const pa_sink_input_info *info,
                                                  int eol, void *userdata) {
            auto *weakState = static_cast<std::weak_ptr<State> *>(userdata);
            if (eol != 0) {
                delete weakState;
                return;
            }
            if (auto state = weakState->lock(); state && state->owner && info)
                state->onInfo(*info);
        };
        pa_operation *op = sinkInput
            ? pa_context_get_sink_input_info(connection->context(), *sinkInput, answer, weak)
            : pa_context_get_sink_input_info_list(connection->context(), answer, weak);
        if (op)
            pa_operation_unref(op);
        else
            delete weak;
    }

    void onInfo(const pa_sink_input_info &info)
    {
        auto existing = followers.find(info.index);
        if (!matches(info)) {
            if (existing != followers.end())
                unfollow(info.index);
            return;
        }
        if (existing != followers.end()) {
            if (existing->second->sink == info.sink)
                return;
            unfollow(info.index); // moved to another output: record it there
        }
        follow(info.index, info.sink);
    }

    void follow(uint32_t sinkInput, uint32_t sink)
    {
        pa_stream *stream =
            pa_stream_new(connection->context(), "Vernalo application capture", &kMixSpec, nullptr);
        if (!stream)
            return;
        auto follower = std::make_unique<Follower>();
        follower->state = this;
        follower->sinkInput = sinkInput;
        follower->sink = sink;
        follower->stream = stream;
        pa_stream_set_monitor_stream(stream, sinkInput);
        pa_stream_set_state_callback(stream, &State::followerStateCallback, follower.get());
        pa_stream_set_read_callback(stream, &State::followerReadCallback, follower.get());
        pa_buffer_attr attributes;
        attributes.maxlength = static_cast<uint32_t>(-1);
        attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<uint32_t>(-1);
        attributes.fragsize =
            static_cast<uint32_t>(fragmentFrames) * static_cast<uint32_t>(pa_frame_size(&kMixSpec));
        // With a monitor stream set, the server records from the monitor of the stream's sink.
        // Not moved: PipeWire moves a monitor stream whose playback has gone to the default
        // source, which is the microphone.
        if (pa_stream_connect_record(stream, nullptr, &attributes, PA_STREAM_DONT_MOVE) < 0) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_unref(stream);
            return;
        }
        mixer.addInput(sinkInput);
        followers[sinkInput] = std::move(follower);
    }

    void unfollow(uint32_t sinkInput)
    {
        auto it = followers.find(sinkInput);
        if (it == followers.end())
            return;
        pa_stream *stream = it->second->stream;
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        followers.erase(it);
        mixer.removeInput(sinkInput);
    }

    void shutdown()
    {
        while (!followers.empty())
            unfollow(followers.begin()->first);
        if (watcher) {
            connection->removeSinkInputWatcher(*watcher);
            watcher.reset();
        }
        owner = nullptr;
    }

    void onEvent(pa_subscription_event_type_t type, uint32_t sinkInput)
    {
        if (!owner)
            return;
        const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
            unfollow(sinkInput);
            reattachAttempts.erase(sinkInput);
        } else {
            lookUp(sinkInput);
        }
    }

    static void followerStateCallback(pa_stream *stream, void *userdata)
    {
        auto *follower = static_cast<Follower *>(userdata);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        // A playback that ended while its monitor was being connected leaves PipeWire nothing
        // to monitor, and it links the stream to the default source instead: never record that.
        const bool onAMonitor = state != PA_STREAM_READY || readsAMonitor(stream);
        if (state != PA_STREAM_FAILED && state != PA_STREAM_TERMINATED && onAMonitor)
            return;
        // The played stream ended or moved (the server kills its monitor either way). Ask
        // whether it still exists; if it does, record it where it plays now.
        State *self = follower->state;
        const uint32_t sinkInput = follower->sinkInput;
        self->unfollow(sinkInput); // frees the follower
        if (++self->reattachAttempts[sinkInput] <= kMaxReattachAttempts && self->owner)
            self->lookUp(sinkInput);
    }

    static void followerReadCallback(pa_stream *stream, size_t, void *userdata)
    {
        auto *follower = static_cast<Follower *>(userdata);
        State *self = follower->state;
        bool delivered = false;
        while (pa_stream_readable_size(stream) > 0) {
            const void *data = nullptr;
            size_t length = 0;
            if (pa_stream_peek(stream, &data, &length) < 0 || length == 0)
                break;
            if (data) {
                self->mixer.push(
                    follower->sinkInput,
                    std::span(static_cast<const float *>(data), length / sizeof(float)));
                delivered = true;
            }
            pa_stream_drop(stream);
        }
        if (delivered)
            self->reattachAttempts.erase(follower->sinkInput);
        const std::vector<float> mixed = self->mixer.take();
        if (!mixed.empty() && self->owner)
            self->batcher.add(self->owner, &self->owner->m_closed,
                              self->resampler.process(
                                  meanOfChannels(mixed.data(), mixed.size(), kMixSpec.channels)));
    }
};

CaptureOpenResult PulseApplicationCapture::open(const std::shared_ptr<PulseConnection> &connection,
                                                const QString &applicationId, qint64 ownProcessId,
                                                const QString &ownApplicationId, int fragmentFrames)
{
    CaptureOpenResult result;
    PulseConnection::Lock lock(*connection);
    if (!connection->isReady()) {
        result.error = connection->lastError();
        return result;
    }
    std::unique_ptr<PulseApplicationCapture> capture(new PulseApplicationCapture);
    auto state = std::make_shared<State>();
    state->connection = connection;
    state->applicationId = applicationId;
    state->ownProcessId = ownProcessId;
    state->ownApplicationId = ownApplicationId;
    state->fragmentFrames = fragmentFrames;
    state->owner = capture.get();
    capture->m_state = state;

    std::weak_ptr<State> weak = state;
    state->watcher =
        connection->addSinkInputWatcher({[weak](pa_subscription_event_type_t type, uint32_t index) {
                                             if (auto s = weak.lock())
                                                 s->onEvent(type, index);
                                         },
                                         [weak](const AudioServerError &error) {
                                             if (auto s = weak.lock(); s && s->owner)
                                                 s->owner->postEnded(error);
                                         }});

    state->lookUp(std::nullopt);
    result.stream = std::move(capture);
    return result;
}

PulseApplicationCapture::~PulseApplicationCapture()
{
    close();
    if (!m_state)
        return;
    // Drop the state under the lock: a callback holding it for a moment must not end up
    // destroying it (and perhaps the connection) on the loop thread.
    const std::shared_ptr<PulseConnection> connection = m_state->connection;
    PulseConnection::Lock lock(*connection);
    m_state.reset();
}

void PulseApplicationCapture::close()
{
    if (m_closed)
        return;
    m_closed = true;
    if (!m_state)
        return;
    PulseConnection::Lock lock(*m_state->connection);
    m_state->shutdown();
}

void PulseApplicationCapture::postEnded(const AudioServerError &error)
{
    QMetaObject::invokeMethod(
        this,
        [this, error] {
            if (!m_closed)
                Q_EMIT ended(error);
        },
        Qt::QueuedConnection);
}

} // namespace vernalo::pulse
