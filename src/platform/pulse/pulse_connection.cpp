#include "pulse/pulse_connection.h"

namespace vernalo::pulse {

PulseLoop::PulseLoop()
    : m_mainloop(pa_threaded_mainloop_new())
{
    if (m_mainloop && pa_threaded_mainloop_start(m_mainloop) < 0) {
        pa_threaded_mainloop_free(m_mainloop);
        m_mainloop = nullptr;
    }
}

PulseLoop::~PulseLoop()
{
    if (m_mainloop) {
        pa_threaded_mainloop_stop(m_mainloop);
        pa_threaded_mainloop_free(m_mainloop);
    }
}

PulseConnection::PulseConnection(std::shared_ptr<PulseLoop> loop)
    : m_loop(std::move(loop))
{ }

std::shared_ptr<PulseConnection>
PulseConnection::start(std::shared_ptr<PulseLoop> loop,
                       std::function<void(pa_context_state_t)> onState, AudioServerError *error)
{
    if (!loop || !loop->isValid()) {
        *error = errorFromCode(PA_ERR_INTERNAL);
        return nullptr;
    }
    Lock lock(*loop);
    std::shared_ptr<PulseConnection> connection(new PulseConnection(loop));
    connection->m_onState = std::move(onState);
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Vernalo");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "com.kestrova.vernalo");
    connection->m_context = pa_context_new_with_proplist(loop->api(), "Vernalo", properties);
    pa_proplist_free(properties);
    if (!connection->m_context) {
        *error = errorFromCode(PA_ERR_INTERNAL);
        return nullptr;
    }
    pa_context_set_state_callback(connection->m_context, &PulseConnection::contextStateCallback,
                                  connection.get());
    pa_context_set_subscribe_callback(connection->m_context, &PulseConnection::subscribeCallback,
                                      connection.get());
    // Never start a server of our own: a missing server is an answer, not something to fix.
    if (pa_context_connect(connection->m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        *error = connection->lastError();
        return nullptr;
    }
    return connection;
}

PulseConnection::~PulseConnection()
{
    if (!m_context)
        return;
    Lock lock(*m_loop);
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

void PulseConnection::disconnect()
{
    if (m_context && PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)))
        pa_context_disconnect(m_context);
}

bool PulseConnection::isReady() const
{
    return m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

AudioServerError PulseConnection::lastError() const
{
    return errorFromCode(m_context ? pa_context_errno(m_context) : PA_ERR_CONNECTIONREFUSED);
}

AudioServerError PulseConnection::errorFromCode(int code)
{
    return {QStringLiteral("pulse"), code, QString::fromUtf8(pa_strerror(code))};
}

PulseConnection::Lock::Lock(const PulseConnection &connection)
    : Lock(*connection.m_loop)
{ }

PulseConnection::Lock::Lock(const PulseLoop &loop)
    : m_mainloop(loop.mainloop())
    , m_locked(!pa_threaded_mainloop_in_thread(m_mainloop))
{
    if (m_locked)
        pa_threaded_mainloop_lock(m_mainloop);
}

PulseConnection::Lock::~Lock()
{
    if (m_locked)
        pa_threaded_mainloop_unlock(m_mainloop);
}

PulseConnection::WatcherHandle PulseConnection::addSinkInputWatcher(SinkInputWatcher watcher)
{
    m_watchers.push_back(std::move(watcher));
    return std::prev(m_watchers.end());
}

void PulseConnection::removeSinkInputWatcher(WatcherHandle handle)
{
    m_watchers.erase(handle);
}

void PulseConnection::setEventHandler(
    std::function<void(pa_subscription_event_type_t, uint32_t)> handler)
{
    m_onEvent = std::move(handler);
}

void PulseConnection::detach()
{
    m_onState = nullptr;
    m_onEvent = nullptr;
    m_onStreamEnd = nullptr;
}

void PulseConnection::setStreamEndHandler(std::function<void(std::function<void()>)> handler)
{
    m_onStreamEnd = std::move(handler);
}

void PulseConnection::reportStreamEnd(std::function<void()> report)
{
    if (m_onStreamEnd)
        m_onStreamEnd(std::move(report));
    else
        report();
}

void PulseConnection::subscribe()
{
    const auto mask = static_cast<pa_subscription_mask_t>(
        PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK |
        PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_CLIENT);
    if (pa_operation *op = pa_context_subscribe(m_context, mask, nullptr, nullptr))
        pa_operation_unref(op);
}

void PulseConnection::contextStateCallback(pa_context *context, void *userdata)
{
    auto *self = static_cast<PulseConnection *>(userdata);
    const pa_context_state_t state = pa_context_get_state(context);
    if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) && !self->m_lostReported) {
        self->m_lostReported = true;
        const AudioServerError error = errorFromCode(pa_context_errno(context));
        // A watcher may unregister itself while being told.
        for (auto it = self->m_watchers.begin(); it != self->m_watchers.end();) {
            auto current = it++;
            if (current->onContextLost)
                current->onContextLost(error);
        }
    }
    if (self->m_onState)
        self->m_onState(state);
    self->signal();
}

void PulseConnection::subscribeCallback(pa_context *, pa_subscription_event_type_t type,
                                        uint32_t index, void *userdata)
{
    auto *self = static_cast<PulseConnection *>(userdata);
    if (self->m_onEvent)
        self->m_onEvent(type, index);
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT)
        return;
    for (auto it = self->m_watchers.begin(); it != self->m_watchers.end();) {
        auto current = it++;
        if (current->onEvent)
            current->onEvent(type, index);
    }
}

} // namespace vernalo::pulse
