#include "bench_recording_rig.h"

#include <algorithm>
#include <cmath>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QtEndian>
#include <QTimer>

namespace vernalo::bench {

namespace {
constexpr quint32 kMicrophoneId = 7;
constexpr int kChunkMs = 100;
} // namespace

BenchRecordingRig::BenchRecordingRig(int capacity)
    : m_peer(capacity)
    , m_clock(QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC))
{
    m_audio.addSource(kMicrophoneId, QStringLiteral("Bench Mic"), QStringLiteral("usb"));
    m_audio.defaultSourceId = kMicrophoneId;
    // Speech-level noise, the same for every chunk apart from its index.
    m_noise.resize(3200);
    quint32 state = 12345;
    for (int i = 0; i < 1600; ++i) {
        state = state * 1664525u + 1013904223u;
        const qint16 sample = static_cast<qint16>(static_cast<int>(state >> 20) - 2048);
        qToLittleEndian<qint16>(sample, m_noise.data() + 2 * i);
    }
    m_peer.onProgress = [this] { QMetaObject::invokeMethod(this, &BenchRecordingRig::progress); };
    QCoreApplication::instance()->installEventFilter(this);
}

bool BenchRecordingRig::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::SockAct)
        m_lastSocketActivityNs = steadyNs();
    return QObject::eventFilter(watched, event);
}

BenchRecordingRig::~BenchRecordingRig()
{
    m_controller.reset();
    m_peer.stopServing();
}

bool BenchRecordingRig::startRecording()
{
    const QString root = m_peer.start();
    if (root.isEmpty())
        return false;
    m_settings = std::make_unique<SecureSettings>(m_folder.filePath(QStringLiteral("bench.conf")));
    m_configStore = std::make_unique<STTConfigurationStore>(m_settings.get());
    STTConfiguration config = STTConfiguration::defaults();
    config.baseURL = root;
    config.apiKey = QStringLiteral("bench-key");
    m_configStore->save(config);
    m_history =
        std::make_unique<SessionHistoryStore>(m_folder.filePath(QStringLiteral("sessions")));
    m_api = std::make_unique<STTAPIClient>(&m_network, &m_clock);
    m_microphone = std::make_unique<MicrophoneCapture>(&m_audio);
    m_systemAudio = std::make_unique<SystemAudioCapture>(&m_audio, &m_clock);

    TranscriptionViewModel::Collaborators collaborators;
    collaborators.configStore = m_configStore.get();
    collaborators.historyStore = m_history.get();
    collaborators.apiClient = m_api.get();
    collaborators.streamClientFactory = defaultStreamClientFactory(&m_clock);
    collaborators.microphone = m_microphone.get();
    collaborators.systemAudio = m_systemAudio.get();
    collaborators.audioSystem = &m_audio;
    collaborators.desktop = &m_desktop;
    collaborators.clock = &m_clock;
    collaborators.autoExportDirectory = m_folder.filePath(QStringLiteral("exports"));
    m_controller = std::make_unique<TranscriptionViewModel>(std::move(collaborators));
    // Every change a wait may be waiting for wakes it.
    connect(m_controller->segmentModel(), &TranscriptSegmentModel::countsChanged, this,
            &BenchRecordingRig::progress);
    connect(m_controller.get(), &TranscriptionViewModel::recordingStateChanged, this,
            &BenchRecordingRig::progress);

    TranscriptionViewModel *vm = m_controller.get();
    vm->settings()->setInputModeName(QStringLiteral("microphone"));
    vm->startRecording();
    return waitFor([vm] { return vm->isRecording() || !vm->isStartingRecording(); }) &&
        vm->isRecording() && waitFor([this] { return m_peer.streamStarted(); });
}

void BenchRecordingRig::stopRecording()
{
    TranscriptionViewModel *vm = m_controller.get();
    if (!vm || !vm->isRecording())
        return;
    vm->stopRecording();
    m_clock.advance(std::chrono::milliseconds(1200));
    waitFor([vm] { return !vm->isStoppingRecording(); });
}

qint64 BenchRecordingRig::pushChunk(int index)
{
    m_clock.advance(std::chrono::milliseconds(kChunkMs));
    QByteArray pcm = m_noise;
    BenchBackendPeer::stampIndex(pcm, index);
    RawAudioFrames frames;
    frames.bytes = pcm;
    frames.format = SampleFormat::Int16;
    frames.channels = 1;
    frames.sampleRate = 16000.0;
    frames.interleaved = true;
    test::FakeCaptureStream *stream = nullptr;
    for (test::FakeCaptureStream *open : m_audio.openStreams())
        stream = open;
    const qint64 before = steadyNs();
    if (stream)
        stream->deliver(frames);
    return before;
}

bool BenchRecordingRig::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    if (condition())
        return true;
    QEventLoop loop;
    auto check = [&] {
        if (condition())
            loop.quit();
    };
    const QMetaObject::Connection onProgress =
        connect(this, &BenchRecordingRig::progress, &loop, check);
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    loop.exec();
    disconnect(onProgress);
    return condition();
}

QDateTime BenchRecordingRig::audioTime(int index) const
{
    return QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC).addMSecs(qint64(index) * kChunkMs);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

} // namespace vernalo::bench
