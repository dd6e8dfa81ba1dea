#include "pulse/pulse_connection.h"

namespace vernalo::pulse {

std::shared_ptr<PulseConnection> PulseConnection::connect(AudioServerError *error)
{
    std::shared_ptr<PulseConnection> connection(new PulseConnection);
    connection->m_mainloop = pa_threaded_mainloop_new();
    if (!connection->m_mainloop) {
        *error = errorFromCode(PA_ERR_INTERNAL);
        return nullptr;
    }
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Vernalo");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "com.kestrova.vernalo");
    connection->m_context = pa_context_new_with_proplist(
        pa_threaded_mainloop_get_api(connection->m_mainloop), "Vernalo", properties);
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
    if (pa_threaded_mainloop_start(connection->m_mainloop) < 0) {
        *error = errorFromCode(PA_ERR_INTERNAL);
        return nullptr;
    }
    Lock lock(*connection);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(connection->m_context);
        if (state == PA_CONTEXT_READY)
            return connection;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            *error = connection->lastError();
            return nullptr;
        }
        pa_threaded_mainloop_wait(connection->m_mainloop);
    }
}

PulseConnection::~PulseConnection()
{
    if (m_context) {
        {
            Lock lock(*this);
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
            m_context = nullptr;
        }
    }
    if (m_mainloop) {
        pa_threaded_mainloop_stop(m_mainloop);
        pa_threaded_mainloop_free(m_mainloop);
    }
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
    : m_mainloop(connection.m_mainloop)
{
    pa_threaded_mainloop_lock(m_mainloop);
}

PulseConnection::Lock::~Lock()
{
    pa_threaded_mainloop_unlock(m_mainloop);
}

bool PulseConnection::waitFor(pa_operation *operation)
{
    if (!operation)
        return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        if (!isReady()) {
            pa_operation_cancel(operation);
            break;
        }
        pa_threaded_mainloop_wait(m_mainloop);
    }
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    return done;
}

PulseConnection::WatcherHandle PulseConnection::addSinkInputWatcher(SinkInputWatcher watcher)
{
    if (!m_subscribed) {
        m_subscribed = true;
        if (pa_operation *op =
                pa_context_subscribe(m_context, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr))
            pa_operation_unref(op);
    }
    m_watchers.push_back(std::move(watcher));
    return std::prev(m_watchers.end());
}

void PulseConnection::removeSinkInputWatcher(WatcherHandle handle)
{
    m_watchers.erase(handle);
}

void PulseConnection::contextStateCallback(pa_context *context, void *userdata)
{
    auto *self = static_cast<PulseConnection *>(userdata);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
        const AudioServerError error = errorFromCode(pa_context_errno(context));
        // A watcher may unregister itself while being told.
        for (auto it = self->m_watchers.begin(); it != self->m_watchers.end();) {
            auto current = it++;
            if (current->onContextLost)
                current->onContextLost(error);
        }
    }
    self->signal();
}

void PulseConnection::subscribeCallback(pa_context *, pa_subscription_event_type_t type,
                                        uint32_t index, void *userdata)
{
    auto *self = static_cast<PulseConnection *>(userdata);
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT)
        return;
    for (auto it = self->m_watchers.begin(); it != self->m_watchers.end();) {
        auto current = it++;
        if (current->onEvent)
            current->onEvent(type, index);
    }
}

} // namespace vernalo::pulse
