#pragma once

#include "ports/audio_system.h"

#include <functional>
#include <list>
#include <memory>
#include <pulse/pulseaudio.h>
#include <QString>

namespace vernalo::pulse {

// One context on its own pa_threaded_mainloop. Streams keep the connection alive through a
// shared pointer, so a stream may outlive the PulseAudioSystem that opened it.
//
// Threading: everything that touches pulse objects holds the loop lock. Callbacks run on the
// loop thread with the lock held; the main thread takes the lock with Lock and may wait for an
// operation with waitFor(), never from inside a callback.
class PulseConnection
{
public:
    // Connects without starting a server; null with the error when none answers.
    static std::shared_ptr<PulseConnection> connect(AudioServerError *error);
    ~PulseConnection();

    PulseConnection(const PulseConnection &) = delete;
    PulseConnection &operator=(const PulseConnection &) = delete;

    pa_threaded_mainloop *mainloop() const { return m_mainloop; }
    pa_context *context() const { return m_context; }

    // Only with the lock held.
    bool isReady() const;
    AudioServerError lastError() const;
    static AudioServerError errorFromCode(int code);

    class Lock
    {
    public:
        explicit Lock(const PulseConnection &connection);
        ~Lock();
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        pa_threaded_mainloop *m_mainloop;
    };

    // With the lock held: waits until the operation ends (or the context dies) and unrefs it.
    // False when the operation could not be started or was cancelled.
    bool waitFor(pa_operation *operation);
    // Wakes a waiting main thread; call from callbacks.
    void signal() { pa_threaded_mainloop_signal(m_mainloop, 0); }

    // Watches sink inputs. Callbacks run on the loop thread with the lock held. Register and
    // unregister with the lock held.
    struct SinkInputWatcher
    {
        std::function<void(pa_subscription_event_type_t type, uint32_t index)> onEvent;
        std::function<void(const AudioServerError &error)> onContextLost;
    };
    using WatcherHandle = std::list<SinkInputWatcher>::iterator;
    WatcherHandle addSinkInputWatcher(SinkInputWatcher watcher);
    void removeSinkInputWatcher(WatcherHandle handle);

private:
    PulseConnection() = default;

    static void contextStateCallback(pa_context *context, void *userdata);
    static void subscribeCallback(pa_context *context, pa_subscription_event_type_t type,
                                  uint32_t index, void *userdata);

    pa_threaded_mainloop *m_mainloop = nullptr;
    pa_context *m_context = nullptr;
    std::list<SinkInputWatcher> m_watchers;
    bool m_subscribed = false;
};

} // namespace vernalo::pulse
