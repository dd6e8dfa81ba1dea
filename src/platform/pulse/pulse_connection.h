#pragma once

#include "ports/audio_system.h"

#include <functional>
#include <list>
#include <memory>
#include <pulse/pulseaudio.h>
#include <QString>

namespace vernalo::pulse {

// The loop thread every connection of one PulseAudioSystem runs on. It outlives the contexts
// (a lost server is reconnected on the same thread), so it is stopped only by its destructor,
// which must run off the loop thread.
class PulseLoop
{
public:
    PulseLoop();
    ~PulseLoop();
    PulseLoop(const PulseLoop &) = delete;
    PulseLoop &operator=(const PulseLoop &) = delete;

    bool isValid() const { return m_mainloop != nullptr; }
    pa_threaded_mainloop *mainloop() const { return m_mainloop; }
    pa_mainloop_api *api() const { return pa_threaded_mainloop_get_api(m_mainloop); }
    void signal() { pa_threaded_mainloop_signal(m_mainloop, 0); }

private:
    pa_threaded_mainloop *m_mainloop = nullptr;
};

// One context on the shared loop. Nothing here waits for the server: connecting, queries and
// streams all answer through callbacks on the loop thread, so no caller thread can hang on a
// server that stopped answering. Streams keep their connection (and the loop) alive through a
// shared pointer.
//
// Threading: everything that touches pulse objects holds the loop lock. Callbacks run on the
// loop thread with the lock held; Lock taken there is a no-op (libpulse forbids locking it).
class PulseConnection
{
public:
    // Starts connecting without starting a server; onState hears every state change on the
    // loop thread. Null with the error when the attempt cannot even begin.
    static std::shared_ptr<PulseConnection> start(std::shared_ptr<PulseLoop> loop,
                                                  std::function<void(pa_context_state_t)> onState,
                                                  AudioServerError *error);
    ~PulseConnection();

    PulseConnection(const PulseConnection &) = delete;
    PulseConnection &operator=(const PulseConnection &) = delete;

    pa_threaded_mainloop *mainloop() const { return m_loop->mainloop(); }
    pa_context *context() const { return m_context; }
    const std::shared_ptr<PulseLoop> &loop() const { return m_loop; }

    // Only with the lock held.
    bool isReady() const;
    AudioServerError lastError() const;
    static AudioServerError errorFromCode(int code);
    // Ends the context: every stream on it ends with an error.
    void disconnect();

    class Lock
    {
    public:
        explicit Lock(const PulseConnection &connection);
        explicit Lock(const PulseLoop &loop);
        ~Lock();
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        pa_threaded_mainloop *m_mainloop;
        bool m_locked; // callbacks on the loop thread hold the lock already
    };

    // Wakes a thread waiting on the loop; call from callbacks.
    void signal() { m_loop->signal(); }

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

    // Hears every subscribed event (server, sources, sinks, sink inputs, clients); set once,
    // with the lock held, before subscribe().
    void setEventHandler(std::function<void(pa_subscription_event_type_t, uint32_t)> handler);
    void subscribe();
    // A stream's end is told once the server's lists have caught up with it (a vanished
    // microphone must be gone from them by the time anyone reacts). With the lock held.
    void setStreamEndHandler(std::function<void(std::function<void()>)> handler);
    void reportStreamEnd(std::function<void()> report);
    // Forgets the state, event and stream-end handlers: their owner is done with this connection,
    // which streams may still hold. With the lock held.
    void detach();

private:
    explicit PulseConnection(std::shared_ptr<PulseLoop> loop);

    static void contextStateCallback(pa_context *context, void *userdata);
    static void subscribeCallback(pa_context *context, pa_subscription_event_type_t type,
                                  uint32_t index, void *userdata);

    std::shared_ptr<PulseLoop> m_loop;
    pa_context *m_context = nullptr;
    std::function<void(pa_context_state_t)> m_onState;
    std::function<void(pa_subscription_event_type_t, uint32_t)> m_onEvent;
    std::function<void(std::function<void()>)> m_onStreamEnd;
    std::list<SinkInputWatcher> m_watchers;
    bool m_lostReported = false;
};

} // namespace vernalo::pulse
