#include "pulse/pulse_server_watch.h"

#include "pulse/pulse_application_capture.h"
#include "pulse/stable_source_id.h"

#include <chrono>
#include <utility>

namespace vernalo::pulse {

namespace {

QString property(pa_proplist *properties, const char *key)
{
    const char *value = properties ? pa_proplist_gets(properties, key) : nullptr;
    return value ? QString::fromUtf8(value) : QString();
}

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

PulseServerWatch::PulseServerWatch(std::shared_ptr<PulseLoop> loop, Listener listener)
    : m_loop(std::move(loop))
    , m_listener(std::move(listener))
{
    m_snapshot.error = PulseConnection::errorFromCode(PA_ERR_CONNECTIONREFUSED);
    if (!m_loop->isValid()) {
        m_hasAnswer = true;
        return;
    }
    PulseConnection::Lock lock(*m_loop);
    connectNow();
    schedule(m_ticker, kRetryMs,
             [](pa_mainloop_api *, pa_time_event *, const timeval *, void *self) {
                 static_cast<PulseServerWatch *>(self)->tick();
             });
}

PulseServerWatch::~PulseServerWatch()
{
    if (!m_loop->isValid())
        return;
    PulseConnection::Lock lock(*m_loop);
    for (pa_time_event **event : {&m_deadline, &m_retry, &m_ticker}) {
        if (*event)
            m_loop->api()->time_free(*event);
        *event = nullptr;
    }
    dropConnection();
}

void PulseServerWatch::dropConnection()
{
    if (!m_connection)
        return;
    // Streams may keep the connection (and its context) alive a little longer; they must not
    // call back into this watch.
    m_connection->detach();
    m_connection->disconnect(); // cancels the pending queries
    m_connection.reset();
    runAfterRefresh();
}

void PulseServerWatch::runAfterRefresh()
{
    const auto waiting = std::exchange(m_afterRefresh, {});
    for (const auto &report : waiting)
        report();
}

void PulseServerWatch::schedule(pa_time_event *&event, int ms,
                                void (*callback)(pa_mainloop_api *, pa_time_event *,
                                                 const struct timeval *, void *))
{
    timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(ms) * PA_USEC_PER_MSEC);
    if (event)
        m_loop->api()->time_restart(event, &when);
    else
        event = m_loop->api()->time_new(m_loop->api(), &when, callback, this);
}

void PulseServerWatch::waitForFirstAnswer(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    m_answered.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_hasAnswer; });
}

PulseSnapshot PulseServerWatch::snapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_snapshot;
}

std::shared_ptr<PulseConnection> PulseServerWatch::connection() const
{
    if (!m_loop->isValid())
        return nullptr;
    PulseConnection::Lock lock(*m_loop);
    return m_connection && m_connection->isReady() && !m_connectionFailed ? m_connection : nullptr;
}

void PulseServerWatch::connectNow()
{
    dropConnection();
    m_connectionFailed = false;
    m_refreshing = m_refreshAgain = false;
    m_pendingQueries = 0;
    m_pingOutstanding = false;
    AudioServerError error;
    m_connection = PulseConnection::start(
        m_loop, [this](pa_context_state_t state) { onState(state); }, &error);
    if (!m_connection) {
        fail(error);
        return;
    }
    // A server that accepts the socket but never completes the handshake is as good as gone.
    schedule(m_deadline, kDeadlineMs,
             [](pa_mainloop_api *, pa_time_event *, const timeval *, void *self) {
                 auto *watch = static_cast<PulseServerWatch *>(self);
                 if (watch->m_connection && !watch->m_connection->isReady())
                     watch->fail(PulseConnection::errorFromCode(PA_ERR_TIMEOUT));
             });
}

void PulseServerWatch::onState(pa_context_state_t state)
{
    if (!m_connection)
        return; // still inside start(), which reports a failure itself
    if (state == PA_CONTEXT_READY) {
        m_connection->setEventHandler(
            [this](pa_subscription_event_type_t, uint32_t) { refresh(); });
        m_connection->setStreamEndHandler([this](std::function<void()> report) {
            m_afterRefresh.push_back(std::move(report));
            refresh();
        });
        m_connection->subscribe();
        refresh();
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
        fail(m_connection->lastError());
    }
}

void PulseServerWatch::fail(const AudioServerError &error)
{
    if (m_connectionFailed)
        return;
    m_connectionFailed = true;
    if (m_connection)
        m_connection->disconnect(); // ends every stream on it (a hung server never would)
    bool wasReachable = false;
    {
        std::lock_guard lock(m_mutex);
        wasReachable = m_snapshot.reachable;
        m_snapshot = PulseSnapshot {};
        m_snapshot.error = error;
        m_hasAnswer = true;
    }
    m_answered.notify_all();
    runAfterRefresh();
    if (wasReachable) {
        m_lossReported = true;
        publish(Event::Lost);
    }
    // The connection is dropped from the timer, never from inside its own callbacks.
    schedule(m_retry, kRetryMs,
             [](pa_mainloop_api *, pa_time_event *, const timeval *, void *self) {
                 auto *watch = static_cast<PulseServerWatch *>(self);
                 if (watch->m_connectionFailed)
                     watch->connectNow();
             });
}

void PulseServerWatch::refresh()
{
    if (m_refreshing) {
        m_refreshAgain = true;
        return;
    }
    m_refreshing = true;
    m_building = PulseSnapshot {};
    m_building.reachable = true;
    pa_context *context = m_connection->context();
    const auto started = [this](pa_operation *op) {
        if (op) {
            ++m_pendingQueries;
            pa_operation_unref(op);
        }
    };
    started(pa_context_get_server_info(
        context,
        [](pa_context *, const pa_server_info *info, void *self) {
            auto *watch = static_cast<PulseServerWatch *>(self);
            if (info) {
                watch->m_building.serverName = QStringLiteral("%1 %2").arg(
                    QString::fromUtf8(info->server_name), QString::fromUtf8(info->server_version));
                watch->m_building.defaultSource = QString::fromUtf8(info->default_source_name);
            }
            watch->finishQuery();
        },
        this));
    started(pa_context_get_source_info_list(
        context,
        [](pa_context *, const pa_source_info *source, int eol, void *self) {
            auto *watch = static_cast<PulseServerWatch *>(self);
            if (eol != 0) {
                watch->finishQuery();
                return;
            }
            PulseSourceEntry entry;
            entry.info.name = QString::fromUtf8(source->name);
            entry.info.id = stableSourceId(entry.info.name);
            entry.info.description = QString::fromUtf8(source->description);
            entry.info.channels = source->sample_spec.channels;
            entry.info.sampleRate = source->sample_spec.rate;
            entry.info.bus = property(source->proplist, PA_PROP_DEVICE_BUS);
            entry.info.formFactor = property(source->proplist, PA_PROP_DEVICE_FORM_FACTOR);
            entry.info.deviceClass = property(source->proplist, PA_PROP_DEVICE_CLASS);
            entry.info.isMonitor = source->monitor_of_sink != PA_INVALID_INDEX;
            entry.info.muted = source->mute != 0;
            entry.sampleSpec = source->sample_spec;
            entry.channelMap = source->channel_map;
            watch->m_building.sources.append(entry);
        },
        this));
    started(pa_context_get_sink_input_info_list(
        context,
        [](pa_context *, const pa_sink_input_info *info, int eol, void *self) {
            auto *watch = static_cast<PulseServerWatch *>(self);
            if (eol != 0)
                watch->finishQuery();
            else
                watch->m_building.playbacks.append(playbackInfoOf(info->proplist));
        },
        this));
    started(pa_context_get_client_info_list(
        context,
        [](pa_context *, const pa_client_info *info, int eol, void *self) {
            auto *watch = static_cast<PulseServerWatch *>(self);
            if (eol != 0)
                watch->finishQuery();
            else
                watch->m_building.clients.append(playbackInfoOf(info->proplist));
        },
        this));
    if (m_pendingQueries == 0) // nothing could be sent: the context is going down
        m_refreshing = false;
}

void PulseServerWatch::finishQuery()
{
    if (--m_pendingQueries > 0)
        return;
    m_refreshing = false;
    if (m_refreshAgain) {
        m_refreshAgain = false;
        refresh();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_snapshot = m_building;
        m_hasAnswer = true;
    }
    m_answered.notify_all();
    runAfterRefresh();
    if (m_lossReported) {
        m_lossReported = false;
        publish(Event::Back);
    }
    publish(Event::Changed);
}

void PulseServerWatch::tick()
{
    schedule(m_ticker, kRetryMs, nullptr);
    if (!m_connection || m_connectionFailed || !m_connection->isReady())
        return;
    if (m_pingOutstanding) {
        if (nowMs() - m_pingSentMs > kDeadlineMs)
            fail(PulseConnection::errorFromCode(PA_ERR_TIMEOUT));
        return;
    }
    pa_operation *op = pa_context_get_server_info(
        m_connection->context(),
        [](pa_context *, const pa_server_info *, void *self) {
            static_cast<PulseServerWatch *>(self)->m_pingOutstanding = false;
        },
        this);
    if (op) {
        m_pingOutstanding = true;
        m_pingSentMs = nowMs();
        pa_operation_unref(op);
    }
}

void PulseServerWatch::publish(Event event)
{
    if (m_listener)
        m_listener(event, m_snapshot);
}

} // namespace vernalo::pulse
