#include "support/controller_harness.h"

#include "foundation/app_log.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QtEndian>

namespace vernalo::test {

namespace {

QString sessionPath(const QString &sessionId, const QString &suffix = QString())
{
    return QStringLiteral("/v1/sessions/") + sessionId + suffix;
}

} // namespace

ControllerHarness::ControllerHarness()
    : clock(kStart)
{
    audio.addSource(kMicrophoneId, QStringLiteral("Desk Mic"), QStringLiteral("usb"));
    audio.defaultSourceId = kMicrophoneId;

    settings = std::make_unique<SecureSettings>(m_folder.filePath(QStringLiteral("Vernalo.conf")));
    configStore = std::make_unique<STTConfigurationStore>(settings.get());
    history = std::make_unique<SessionHistoryStore>(m_folder.filePath(QStringLiteral("sessions")));
    api = std::make_unique<STTAPIClient>(&network, &clock);
    useAudioSystem(&audio);
    QObject::connect(&network, &QNetworkAccessManager::finished, &network,
                     [this](QNetworkReply *reply) { m_answeredPaths.append(reply->url().path()); });
}

ControllerHarness::~ControllerHarness()
{
    m_controller.reset();
    // Work the controller left behind (a detached backend stop) may still hold a reply.
    if (m_dropHeldAtExit)
        backend.dropHeld();
}

bool ControllerHarness::start()
{
    if (!backend.start() || !stream.start())
        return false;
    STTConfiguration config = STTConfiguration::defaults();
    config.baseURL = backend.baseUrl().toString();
    config.apiKey = QStringLiteral("test-api-key");
    configStore->save(config);
    return true;
}

TranscriptionViewModel *ControllerHarness::build()
{
    TranscriptionViewModel::Collaborators collaborators;
    collaborators.configStore = configStore.get();
    collaborators.historyStore = history.get();
    collaborators.apiClient = api.get();
    collaborators.streamClientFactory = defaultStreamClientFactory(&clock);
    collaborators.microphone = microphone.get();
    collaborators.systemAudio = systemAudio.get();
    collaborators.audioSystem = m_audioSystem;
    collaborators.desktop = &desktop;
    collaborators.clock = &clock;
    collaborators.autoExportDirectory = exportFolder();
    m_controller = std::make_unique<TranscriptionViewModel>(std::move(collaborators));
    return m_controller.get();
}

void ControllerHarness::useAudioSystem(AudioSystem *system)
{
    m_audioSystem = system;
    microphone = std::make_unique<MicrophoneCapture>(system);
    systemAudio = std::make_unique<SystemAudioCapture>(system, &clock);
}

QByteArray ControllerHarness::createAnswer(const QString &sessionId, const QUrl &streamUrl)
{
    const QJsonObject answer {{QStringLiteral("sessionId"), sessionId},
                              {QStringLiteral("wsUrl"), streamUrl.toString()},
                              {QStringLiteral("token"), QStringLiteral("stream-token")}};
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}

ScriptedResponse ControllerHarness::createdAs(const QString &sessionId) const
{
    return ScriptedResponse::json(
        200,
        createAnswer(sessionId, stream.url(sessionPath(sessionId, QStringLiteral("/stream")))));
}

void ControllerHarness::expectSession(const QString &sessionId)
{
    backend.enqueue("POST", QStringLiteral("/v1/sessions"), createdAs(sessionId));
    setServerTranscript(sessionId, "[]");
    setServerMeta(sessionId, QByteArrayLiteral(R"({"status":"active"})"));
    backend.on("POST", sessionPath(sessionId, QStringLiteral("/stop")),
               ScriptedResponse::json(200, R"({"ok":true})"));
}

void ControllerHarness::setServerTranscript(const QString &sessionId,
                                            const QByteArray &segmentsJson)
{
    backend.on("GET", sessionPath(sessionId, QStringLiteral("/transcript")),
               ScriptedResponse::json(200,
                                      R"({"sessionId":")" + sessionId.toUtf8() +
                                          R"(","segments":)" + segmentsJson + "}"));
}

void ControllerHarness::setServerMeta(const QString &sessionId, const QByteArray &metaJson)
{
    backend.on("GET", sessionPath(sessionId), ScriptedResponse::json(200, metaJson));
}

void ControllerHarness::holdNextCreate()
{
    backend.enqueue("POST", QStringLiteral("/v1/sessions"), ScriptedResponse::silence());
}

bool ControllerHarness::answerHeldCreate(const QString &sessionId)
{
    return backend.answerHeld(createdAs(sessionId));
}

bool ControllerHarness::startLive(QString *why)
{
    TranscriptionViewModel *vm = controller();
    const int connectionsBefore = stream.connectionCount();
    vm->startRecording();
    const bool polled = waitFor([vm] { return vm->isRecording() || !vm->isStartingRecording(); }) &&
        vm->isRecording() && waitFor([&] {
                            const QString session = sessionPath(vm->sessionId());
                            return stream.connectionCount() > connectionsBefore &&
                                !stream.connection().frames.isEmpty() &&
                                answersTo(session + QStringLiteral("/transcript")) > 0 &&
                                answersTo(session) > 0;
                        });
    if (!polled && why)
        *why = vm->statusText();
    return polled;
}

bool ControllerHarness::nextPoll(const QString &sessionId, const QString &suffix, int periodMs)
{
    const QString path = sessionPath(sessionId, suffix);
    const int before = answersTo(path);
    clock.advance(std::chrono::milliseconds(periodMs));
    return waitAnswers(path, before + 1);
}

bool ControllerHarness::waitStopFinished()
{
    TranscriptionViewModel *vm = controller();
    // The 1.2 s grace for the last finals passes in virtual time; the closing fetch, the
    // backend stop and the save then run over the loopback sockets.
    clock.advance(std::chrono::milliseconds(1200));
    return waitFor([vm] { return !vm->isStoppingRecording(); });
}

FakeCaptureStream *ControllerHarness::openStreamOf(std::initializer_list<Kind> kinds) const
{
    const QList<FakeCaptureStream *> open = audio.openStreams();
    for (const Kind kind : kinds) {
        for (auto it = open.crbegin(); it != open.crend(); ++it) {
            if ((*it)->target().kind == kind)
                return *it;
        }
    }
    return nullptr;
}

QByteArray ControllerHarness::testChunk(int index)
{
    QByteArray pcm(3200, Qt::Uninitialized);
    for (int i = 0; i < 1600; ++i) {
        // |sample| < 16384 survives the float round trip of the capture exactly.
        const qint16 sample = static_cast<qint16>(((index * 977 + i * 31) % 16000) - 8000);
        qToLittleEndian<qint16>(sample, pcm.data() + 2 * i);
    }
    return pcm;
}

RawAudioFrames ControllerHarness::framesOf(const QByteArray &pcm)
{
    RawAudioFrames frames;
    frames.bytes = pcm;
    frames.format = SampleFormat::Int16;
    frames.channels = 1;
    frames.sampleRate = 16000.0;
    frames.interleaved = true;
    return frames;
}

QList<QByteArray> ControllerHarness::audioReceived(int connection) const
{
    QList<QByteArray> chunks;
    for (const StreamFrame &frame : framesOn(connection)) {
        const QJsonObject object = QJsonDocument::fromJson(frame.data).object();
        if (!frame.isText)
            chunks.append(frame.data);
        else if (object.value(QStringLiteral("type")).toString() == u"audio")
            chunks.append(QByteArray::fromBase64(
                object.value(QStringLiteral("audioBase64")).toString().toLatin1()));
    }
    return chunks;
}

QList<QByteArray> ControllerHarness::textFramesReceived(int connection) const
{
    QList<QByteArray> texts;
    for (const StreamFrame &frame : framesOn(connection)) {
        if (frame.isText)
            texts.append(frame.data);
    }
    return texts;
}

QList<StreamFrame> ControllerHarness::framesOn(int connection) const
{
    return stream.connectionCount() == 0 ? QList<StreamFrame>()
                                         : stream.connection(connection).frames;
}

QByteArray ControllerHarness::finalEvent(const QString &text, const QString &ts,
                                         const QString &speaker)
{
    QJsonObject event {{QStringLiteral("type"), QStringLiteral("final")},
                       {QStringLiteral("text"), text},
                       {QStringLiteral("ts"), ts}};
    if (!speaker.isEmpty())
        event.insert(QStringLiteral("speakerLabel"), speaker);
    return QJsonDocument(event).toJson(QJsonDocument::Compact);
}

bool ControllerHarness::sayFinal(const QString &text, const QString &ts, const QString &speaker)
{
    const qsizetype before = m_controller->segments().size();
    sendEvent(finalEvent(text, ts, speaker));
    return waitFor([&] { return m_controller->segments().size() > before; });
}

SavedSession ControllerHarness::sessionOf(const QString &id, const QStringList &lines,
                                          const QDateTime &createdAt)
{
    SavedSession session {
        id, createdAt, createdAt.addSecs(600), QStringLiteral("fi-FI"), QStringLiteral("chirp_3"),
        {}};
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringList parts = lines[i].split(QLatin1Char('|'));
        session.segments.append(
            {QUuid::createUuid(), parts.first(), createdAt.addSecs(7 + 2 * i),
             parts.size() > 1 ? std::optional<QString>(parts[1]) : std::nullopt});
    }
    return session;
}

QStringList ControllerHarness::texts(const QList<TranscriptSegment> &segments)
{
    QStringList out;
    for (const TranscriptSegment &segment : segments)
        out << segment.text;
    return out;
}

QString ControllerHarness::logText()
{
    AppLog::flush();
    return AppLog::snapshot(1 << 22);
}

} // namespace vernalo::test
