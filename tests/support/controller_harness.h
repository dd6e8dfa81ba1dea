#pragma once

#include "audio/microphone_capture.h"
#include "audio/system_audio_capture.h"
#include "backend/stt_api_client.h"
#include "foundation/secure_settings.h"
#include "foundation/stt_configuration.h"
#include "recording/transcription_view_model.h"
#include "sessions/session_history_store.h"
#include "support/checked.h"
#include "support/fake_audio_system.h"
#include "support/fake_clock.h"
#include "support/fake_desktop_services.h"
#include "support/loopback_http_peer.h"
#include "support/loopback_stream_peer.h"
#include "support/socket_wait.h"

#include <functional>
#include <memory>
#include <QDateTime>
#include <QNetworkAccessManager>
#include <QTemporaryDir>

namespace vernalo::test {

// The recording controller wired the way the application wires it, with the outside world
// replaced: virtual time (FakeClock) for every controller timer, a scripted sound server
// (FakeAudioSystem) behind the real capture classes, scripted desktop services, a settings file
// and a history folder of its own, the REST backend as a LoopbackHttpPeer and the live stream as
// a LoopbackStreamPeer, both on 127.0.0.1.
//
// Typical use: start(), adjust devices or stored settings, build(), expectSession("s1"),
// startLive(), speak(...), sendEvent(...), stopAndFinish(), then look at savedSession("s1") and
// at what the peers received.
class ControllerHarness
{
public:
    // The microphone every harness starts with: a wired USB device, the server default.
    static constexpr quint32 kMicrophoneId = 11;

    ControllerHarness();
    ~ControllerHarness();

    ControllerHarness(const ControllerHarness &) = delete;
    ControllerHarness &operator=(const ControllerHarness &) = delete;

    // Starts both peers and stores a configuration that points at the REST peer. False when a
    // port could not be bound.
    bool start();
    // Builds the controller over what is set up now (stored configuration, devices, history).
    TranscriptionViewModel *build();
    // Runs the capture objects and the controller over another sound server (a real one in
    // integration tests) instead of the scripted one. Call before build(); the helpers that
    // feed or inspect the scripted server's streams do nothing useful afterwards.
    void useAudioSystem(AudioSystem *system);
    TranscriptionViewModel *controller() const { return m_controller.get(); }
    // Held requests the client gave up on (its time-out closed them) must not be dropped again
    // at the end: their connections are gone.
    void keepHeldRequestsAtExit() { m_dropHeldAtExit = false; }
    // Destroys the controller (to test that late work notices).
    void destroyController() { m_controller.reset(); }

    // The stored configuration, before build() or between runs.
    STTConfiguration storedConfiguration() const { return configStore->load(); }
    void storeConfiguration(const STTConfiguration &config) { configStore->save(config); }
    // The raw value stored under the configuration key.
    QVariant storedConfigurationValue() const
    {
        return settings->value(QLatin1String(STTConfigurationStore::kKey));
    }

    // Backend scripting for one session: the next create answers with this ID and a stream
    // address on the stream peer; its transcript, metadata and stop routes answer at once
    // (no segments, status "active", 200).
    void expectSession(const QString &sessionId);
    // The segments the transcript route returns from now on (a JSON array literal).
    void setServerTranscript(const QString &sessionId, const QByteArray &segmentsJson);
    // The metadata the metadata route returns from now on (a JSON object literal).
    void setServerMeta(const QString &sessionId, const QByteArray &metaJson);
    // Holds the next create request unanswered; answerHeldCreate() answers it later.
    void holdNextCreate();
    bool answerHeldCreate(const QString &sessionId);
    static QByteArray createAnswer(const QString &sessionId, const QUrl &streamUrl);

    // Presses start and waits until the recording is live, the stream peer holds the start
    // message and both pollers have had their first answer (and sleep until their next tick).
    // False (with the controller's status in `why`) when it did not get there.
    bool startLive(QString *why = nullptr);
    // Presses stop, lets the 1.2 s wait pass in virtual time and waits for the closing steps.
    bool stopAndFinish()
    {
        controller()->stopRecording();
        return waitStopFinished();
    }
    // Waits for the closing steps of a stop or remote stop that is already under way.
    bool waitStopFinished();

    // The open microphone / system-audio stream of the scripted sound server (null when none).
    FakeCaptureStream *microphoneStream() const { return openStreamOf({Kind::Source}); }
    FakeCaptureStream *systemStream() const
    {
        return openStreamOf({Kind::Application, Kind::AllApplications});
    }
    // Delivers 16 kHz mono PCM16 as the microphone's raw frames; every whole 3200 bytes become
    // one chunk on the wire.
    void speak(const QByteArray &pcm) const { deliver(microphoneStream(), pcm); }
    void playSystemAudio(const QByteArray &pcm) const { deliver(systemStream(), pcm); }
    // 3200 bytes of PCM16 unique to `index`, with samples small enough to pass the capture's
    // conversion unchanged, so a lost, repeated or reordered chunk shows on the wire.
    static QByteArray testChunk(int index);
    static RawAudioFrames framesOf(const QByteArray &pcm);

    // Audio chunks the stream peer received on a connection (binary or Base64 framed), in order.
    QList<QByteArray> audioReceived(int connection = -1) const;
    // Text frames of a connection, in order.
    QList<QByteArray> textFramesReceived(int connection = -1) const;
    bool waitAudioChunks(int count, int connection = -1) const
    {
        return waitFor([&] { return audioReceived(connection).size() >= count; });
    }
    // Sends one server event on the newest stream connection.
    void sendEvent(const QByteArray &json) { stream.sendText(json); }
    static QByteArray finalEvent(const QString &text, const QString &ts,
                                 const QString &speaker = {});
    // Sends a final and waits until the controller lists one more segment.
    bool sayFinal(const QString &text, const QString &ts, const QString &speaker = {});

    // REST answers the client has received for a path (e.g. "/v1/sessions/s1/transcript").
    // When such an answer is counted, the code that awaited it has already run up to its next
    // wait, so a poller counted here is asleep again.
    int answersTo(const QString &path) const
    {
        return static_cast<int>(m_answeredPaths.count(path));
    }
    bool waitAnswers(const QString &path, int count) const
    {
        return waitFor([&] { return answersTo(path) >= count; });
    }
    // Advances virtual time by one poll period and waits for that poll's answer.
    bool nextTranscriptPoll(const QString &id) { return nextPoll(id, "/transcript", 2000); }
    bool nextSessionMetaPoll(const QString &id) { return nextPoll(id, {}, 2500); }

    // Runs the event loop for real socket traffic until the condition holds.
    static bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000)
    {
        return waitUntil(condition, timeoutMs);
    }
    // Advances virtual time: due timers fire in order, posted events are delivered.
    void advance(std::chrono::milliseconds delta) { clock.advance(delta); }

    std::optional<SavedSession> savedSession(const QString &id) const { return history->load(id); }
    QList<RecordedRequest> requests(const QByteArray &method, const QString &path) const
    {
        return backend.requestsTo(method, path);
    }
    QString historyFolder() const { return history->directory(); }
    QString exportFolder() const { return m_folder.filePath(QStringLiteral("exports")); }

    // A session as the history stores it: one segment per line ("text" or "text|speaker"),
    // 7 s after the start and 2 s apart, ended 10 minutes after the start.
    static SavedSession sessionOf(const QString &id, const QStringList &lines,
                                  const QDateTime &createdAt = kStart);
    // Stores sessionOf(...) in this harness's history; false when the write failed.
    bool storeSession(const SavedSession &session) const { return !history->save(session); }
    static QStringList texts(const QList<TranscriptSegment> &segments);
    // Everything the app log holds so far.
    static QString logText();

    static inline const QDateTime kStart {QDate(2026, 3, 1), QTime(12, 0), Qt::UTC};

    FakeClock clock;
    FakeAudioSystem audio;
    FakeDesktopServices desktop;
    LoopbackHttpPeer backend;
    LoopbackStreamPeer stream;
    QNetworkAccessManager network;

private:
    QTemporaryDir m_folder;

public:
    std::unique_ptr<SecureSettings> settings;
    std::unique_ptr<STTConfigurationStore> configStore;
    std::unique_ptr<SessionHistoryStore> history;
    std::unique_ptr<STTAPIClient> api;
    std::unique_ptr<MicrophoneCapture> microphone;
    std::unique_ptr<SystemAudioCapture> systemAudio;

private:
    using Kind = CaptureTarget::Kind;
    // The newest open stream of the scripted sound server of one of the kinds, in their order.
    FakeCaptureStream *openStreamOf(std::initializer_list<Kind> kinds) const;
    static void deliver(FakeCaptureStream *stream, const QByteArray &pcm)
    {
        if (stream)
            stream->deliver(framesOf(pcm));
    }
    bool nextPoll(const QString &sessionId, const QString &suffix, int periodMs);
    ScriptedResponse createdAs(const QString &sessionId) const;
    QList<StreamFrame> framesOn(int connection) const;

    std::unique_ptr<TranscriptionViewModel> m_controller;
    QStringList m_answeredPaths;
    AudioSystem *m_audioSystem = nullptr; // the scripted one unless useAudioSystem() chose another
    bool m_dropHeldAtExit = true;
};

} // namespace vernalo::test
