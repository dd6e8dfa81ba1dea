#pragma once

#include "audio/microphone_capture.h"
#include "audio/system_audio_capture.h"
#include "backend/stt_api_client.h"
#include "bench_backend_peer.h"
#include "foundation/secure_settings.h"
#include "foundation/stt_configuration.h"
#include "recording/transcription_view_model.h"
#include "sessions/session_history_store.h"
#include "support/fake_audio_system.h"
#include "support/fake_clock.h"
#include "support/fake_desktop_services.h"

#include <functional>
#include <memory>
#include <QNetworkAccessManager>
#include <QTemporaryDir>

namespace vernalo::bench {

// A recording driven faster than real time: the real controller, capture front end, outgoing
// pipeline, REST and stream clients, on virtual time (every controller timer, poll and ping runs
// at its audio-time rate), with a scripted microphone and the backend on its own thread behind
// real loopback sockets. The driver hands in one 100 ms chunk at a time.
class BenchRecordingRig : public QObject
{
    Q_OBJECT
public:
    explicit BenchRecordingRig(int capacity);
    ~BenchRecordingRig() override;

    // Starts the backend and the recording; false when it did not go live.
    bool startRecording();
    void stopRecording();

    // One chunk of speech-level noise carrying `index` (from 1): virtual time moves on by the
    // chunk's length first, so due timers fire in order, then the microphone delivers it.
    // Returns the steady-clock time just before the delivery.
    qint64 pushChunk(int index);
    // Waits on the event loop (blocking, woken by the peer and the transcript) until the
    // condition holds; false after timeoutMs.
    bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000);

    // The virtual time of audio position `index` chunks in.
    QDateTime audioTime(int index) const;

    TranscriptionViewModel *controller() const { return m_controller.get(); }
    BenchBackendPeer &peer() { return m_peer; }

    // When the event loop last handed a socket's readiness to its reader: inside the handling
    // of a socket's bytes, the moment the client began to read them.
    qint64 lastSocketActivityNs() const { return m_lastSocketActivityNs; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

Q_SIGNALS:
    void progress();

private:
    QTemporaryDir m_folder;
    BenchBackendPeer m_peer;
    test::FakeClock m_clock;
    test::FakeAudioSystem m_audio;
    test::FakeDesktopServices m_desktop;
    QNetworkAccessManager m_network;
    std::unique_ptr<SecureSettings> m_settings;
    std::unique_ptr<STTConfigurationStore> m_configStore;
    std::unique_ptr<SessionHistoryStore> m_history;
    std::unique_ptr<STTAPIClient> m_api;
    std::unique_ptr<MicrophoneCapture> m_microphone;
    std::unique_ptr<SystemAudioCapture> m_systemAudio;
    std::unique_ptr<TranscriptionViewModel> m_controller;
    QByteArray m_noise;
    qint64 m_lastSocketActivityNs = 0;
};

// P-th percentile (0..1) of the values, nearest rank; 0 when empty.
double percentile(std::vector<double> values, double p);

} // namespace vernalo::bench
