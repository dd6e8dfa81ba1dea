#pragma once

#include "backend/websocket_stream_client.h"
#include "support/controller_harness.h"

#include <QPointer>
#include <QStringList>

namespace vernalo::test {

// The real recording controller against a backend given by address: a scripted microphone
// (FakeAudioSystem) delivers one numbered 100 ms chunk per tick while virtual time (FakeClock)
// moves 100 ms, so every timer of the controller and of its stream client (reconnect back-off,
// pings, pollers) runs on ticks, while the bytes travel over real loopback sockets.
class LiveRecordingRig
{
public:
    static constexpr qint64 kChunkBytes = 3200;
    static constexpr qint64 kBytesPerMs = 32;

    explicit LiveRecordingRig(const QUrl &backend);

    TranscriptionViewModel *controller() const { return m_controller.get(); }
    WebSocketStreamClient *streamClient() const { return m_client.data(); }
    FakeClock &clock() { return m_harness.clock; }
    SessionHistoryStore &history() { return *m_harness.history; }

    // Starts a recording and waits until it is live with its stream confirmed.
    bool startRecording(QString *why);
    // Presses stop and lets the closing steps run (the 1.2 s grace in virtual time).
    bool stopRecording();

    // One chunk of microphone audio and 100 ms of virtual time. When reconnect attempts are
    // awaited, a connection attempt the tick started is followed until it opened or failed, so
    // the next tick sees its outcome, and an unanswered ping is given its pong first (turn it
    // off while the server is frozen: it would hang).
    void tick();
    void setAwaitAttempts(bool await) { m_awaitAttempts = await; }
    // The stream has a confirmed, open socket and no reconnect pending.
    bool streamHealthy() const;

    qint64 bytesProduced() const { return m_chunks * kChunkBytes; }
    qint64 virtualMs() const { return m_harness.clock.monotonicMs(); }
    QStringList segmentTexts() const;

private:
    ControllerHarness m_harness;
    std::unique_ptr<TranscriptionViewModel> m_controller;
    QPointer<WebSocketStreamClient> m_client;
    int m_chunks = 0;
    bool m_awaitAttempts = true;
    bool m_attemptPending = false;
    bool m_opened = false;
};

} // namespace vernalo::test
