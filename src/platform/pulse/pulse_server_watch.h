#pragma once

#include "pulse/pulse_connection.h"

#include <condition_variable>
#include <functional>
#include <mutex>

namespace vernalo::pulse {

struct PulseSourceEntry
{
    AudioSourceInfo info;
    pa_sample_spec sampleSpec {};
    pa_channel_map channelMap {};
};

// What the server last said, kept up to date from its change events.
struct PulseSnapshot
{
    bool reachable = false;
    QString serverName;
    QString defaultSource;
    std::optional<AudioServerError> error; // why it is not reachable
    QList<PulseSourceEntry> sources;
    QList<AudioPlaybackInfo> playbacks; // sink inputs
    QList<AudioPlaybackInfo> clients;
};

// Keeps one connection to the sound server alive and a snapshot of it current, all on the loop
// thread, so that readers never wait for the server. Every answer has a deadline: a connection
// that is not ready, or a server that does not answer a ping, within kDeadlineMs counts as gone;
// the connection is then dropped (ending every stream on it) and retried every kRetryMs.
class PulseServerWatch
{
public:
    static constexpr int kDeadlineMs = 2000;
    static constexpr int kRetryMs = 1000;

    enum class Event { Lost, Back, Changed };
    // Called on the loop thread with the lock held.
    using Listener = std::function<void(Event event, const PulseSnapshot &snapshot)>;

    PulseServerWatch(std::shared_ptr<PulseLoop> loop, Listener listener);
    ~PulseServerWatch();
    PulseServerWatch(const PulseServerWatch &) = delete;
    PulseServerWatch &operator=(const PulseServerWatch &) = delete;

    // Waits (at most timeoutMs) until the first attempt has an answer either way.
    void waitForFirstAnswer(int timeoutMs);
    PulseSnapshot snapshot() const;
    // The ready connection, or null while the server is gone. Takes the lock.
    std::shared_ptr<PulseConnection> connection() const;

private:
    void connectNow();
    void dropConnection();
    void onState(pa_context_state_t state);
    void fail(const AudioServerError &error);
    void refresh();
    void finishQuery();
    void tick();
    void schedule(pa_time_event *&event, int ms,
                  void (*callback)(pa_mainloop_api *, pa_time_event *, const struct timeval *,
                                   void *));
    void publish(Event event);
    void runAfterRefresh();

    std::shared_ptr<PulseLoop> m_loop;
    Listener m_listener;
    // Loop thread (lock held):
    std::shared_ptr<PulseConnection> m_connection;
    bool m_connectionFailed = false;
    pa_time_event *m_deadline = nullptr;
    pa_time_event *m_retry = nullptr;
    pa_time_event *m_ticker = nullptr;
    bool m_refreshing = false;
    bool m_refreshAgain = false;
    int m_pendingQueries = 0;
    PulseSnapshot m_building;
    bool m_pingOutstanding = false;
    qint64 m_pingSentMs = 0;
    bool m_lossReported = false;
    std::vector<std::function<void()>> m_afterRefresh;

    mutable std::mutex m_mutex;
    std::condition_variable m_answered;
    bool m_hasAnswer = false;
    PulseSnapshot m_snapshot;
};

} // namespace vernalo::pulse
