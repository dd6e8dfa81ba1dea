#include "live_recording_rig.h"

#include "support/socket_wait.h"

#include <QCoreApplication>

namespace vernalo::test {

LiveRecordingRig::LiveRecordingRig(const QUrl &backend)
{
    STTConfiguration config = STTConfiguration::defaults();
    config.baseURL = backend.toString();
    m_harness.storeConfiguration(config);

    TranscriptionViewModel::Collaborators collaborators;
    collaborators.configStore = m_harness.configStore.get();
    collaborators.historyStore = m_harness.history.get();
    collaborators.apiClient = m_harness.api.get();
    collaborators.streamClientFactory = [this] {
        auto client = std::make_unique<WebSocketStreamClient>(&m_harness.clock);
        m_client = client.get();
        QObject::connect(client.get(), &WebSocketStreamClient::socketOpened, client.get(),
                         [this] { m_opened = true; });
        return client;
    };
    collaborators.microphone = m_harness.microphone.get();
    collaborators.systemAudio = m_harness.systemAudio.get();
    collaborators.audioSystem = &m_harness.audio;
    collaborators.desktop = &m_harness.desktop;
    collaborators.clock = &m_harness.clock;
    collaborators.autoExportDirectory = m_harness.exportFolder();
    m_controller = std::make_unique<TranscriptionViewModel>(std::move(collaborators));
}

bool LiveRecordingRig::startRecording(QString *why)
{
    TranscriptionViewModel *vm = m_controller.get();
    vm->startRecording();
    const bool live = waitUntil([vm] { return vm->isRecording() || !vm->isStartingRecording(); }) &&
        vm->isRecording() && waitUntil([this] { return streamHealthy(); });
    if (!live && why)
        *why = vm->statusText();
    return live;
}

bool LiveRecordingRig::stopRecording()
{
    TranscriptionViewModel *vm = m_controller.get();
    vm->stopRecording();
    m_harness.clock.advance(std::chrono::milliseconds(1200));
    return waitUntil([vm] { return !vm->isStoppingRecording(); });
}

bool LiveRecordingRig::streamHealthy() const
{
    return m_client && m_client->isActive() && !m_client->isReconnecting() && m_opened &&
        m_client->isStartConfirmed();
}

void LiveRecordingRig::tick()
{
    if (m_awaitAttempts && m_client && m_client->isAwaitingPong()) {
        // A live server answers a ping within moments of real time; virtual time must not run
        // on to the ping deadline meanwhile.
        WebSocketStreamClient *client = m_client.data();
        waitUntil([this, client] { return !m_client || !client->isAwaitingPong(); }, 30000);
    }
    m_harness.speak(ControllerHarness::testChunk(m_chunks));
    ++m_chunks;
    m_harness.clock.advance(std::chrono::milliseconds(100));
    QCoreApplication::processEvents();
    if (!m_client)
        return;
    if (m_client->isReconnecting()) {
        m_attemptPending = true;
        m_opened = false;
        return;
    }
    if (m_attemptPending && m_awaitAttempts) {
        // The back-off timer fired during this tick: a new socket is on its way.
        WebSocketStreamClient *client = m_client.data();
        waitUntil([this, client] { return !m_client || client->isReconnecting() || m_opened; },
                  30000);
        if (m_client && m_client->isReconnecting()) {
            m_opened = false;
            return;
        }
        m_attemptPending = false;
    }
    if (m_awaitAttempts && m_opened && !m_client->isStartConfirmed()) {
        // A fresh socket's start is answered within moments of real time; without this wait
        // virtual time would race ahead of a server that is still busy starting up.
        WebSocketStreamClient *client = m_client.data();
        waitUntil(
            [this, client] {
                return !m_client || client->isStartConfirmed() || client->isReconnecting();
            },
            30000);
    }
}

QStringList LiveRecordingRig::segmentTexts() const
{
    QStringList texts;
    for (const TranscriptSegment &segment : m_controller->segments())
        texts.append(segment.text);
    return texts;
}

} // namespace vernalo::test
