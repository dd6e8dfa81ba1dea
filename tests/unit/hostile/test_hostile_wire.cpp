// Hostile input from the network: stream frames, REST answers and update manifests. Each is
// fed both to its decoder and through the real client over loopback, and must be refused the
// way the program refuses bad server data, never taken for a result.

#include "backend/stt_api_client.h"
#include "backend/websocket_stream_client.h"
#include "hostile_corpus.h"
#include "support/fake_clock.h"
#include "support/fake_desktop_services.h"
#include "support/loopback_http_peer.h"
#include "support/loopback_stream_peer.h"
#include "support/socket_wait.h"
#include "support/task_outcome.h"
#include "support/test_environment.h"
#include "updates/update_checker.h"
#include "wire/health_response.h"
#include "wire/session_records.h"
#include "wire/stream_event.h"
#include "wire/summary_records.h"
#include "wire/wire_coding.h"

#include <QNetworkAccessManager>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

const QString kInvalidAnswer = QStringLiteral("Virheellinen palvelinvaste");

// Decodes a body as the record its operation expects; the reason when refused.
std::optional<QString> refusalReason(const QString &operation, const QByteArray &body)
{
    QString error;
    bool accepted = false;
    if (operation == u"create")
        accepted = wire::decode<STTSessionCreateResponse>(body, &error).has_value();
    else if (operation == u"transcript")
        accepted = wire::decode<ServerTranscriptResponse>(body, &error).has_value();
    else if (operation == u"meta")
        accepted = wire::decode<SessionMetaResponse>(body, &error).has_value();
    else if (operation == u"list")
        accepted = wire::decode<SessionListResponse>(body, &error).has_value();
    else if (operation == u"health")
        accepted = wire::decode<HealthResponse>(body, &error).has_value();
    else if (operation == u"summary")
        accepted = wire::decode<SummaryPayload>(body, &error).has_value();
    else if (operation == u"manifest")
        accepted = wire::decode<AppUpdateManifest>(body, &error).has_value();
    else
        qFatal("no record for operation %s", qPrintable(operation));
    if (accepted)
        return std::nullopt;
    return error;
}

// Runs one client operation; the answer itself is not needed, only whether it was refused.
QCoro::Task<bool> perform(STTAPIClient *client, STTConfiguration config, QString operation)
{
    // Arguments are built before the awaits: g++ 12 miscompiles braced lists inside them.
    const QString id = QStringLiteral("abc");
    const STTSessionCreateRequest request;
    const QList<SummaryGenerateRequest::Segment> noSegments;
    if (operation == u"create")
        co_await client->createSession(config, request);
    else if (operation == u"transcript")
        co_await client->getTranscript(config, id);
    else if (operation == u"meta")
        co_await client->getSessionMeta(config, id);
    else if (operation == u"list")
        co_await client->listSessions(config, std::nullopt, 20);
    else if (operation == u"health")
        co_await client->health(config);
    else if (operation == u"summary")
        co_await client->generateSummary(config, id, noSegments);
    else if (operation == u"manifest")
        co_await client->fetchUpdateManifest(config.updateManifestURL);
    co_return true;
}

QCoro::Task<> runCheck(UpdateChecker *checker, QString address,
                       std::optional<UpdateCheckResult> *result)
{
    *result = co_await checker->check(address);
}

// Where the rows of a REST table come from: the folder names the operation.
void addRestRows(const QString &kind, const QString &operation = QString())
{
    for (const auto &input : hostileFiles(kind)) {
        const QString op = operation.isEmpty() ? input.name.section(u'/', 0, 0) : operation;
        QTest::newRow(qPrintable(input.name)) << op << input.bytes;
    }
}

} // namespace

class HostileWireTest : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<LoopbackHttpPeer> m_http;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<FakeClock> m_clock;
    std::unique_ptr<STTAPIClient> m_client;

    STTConfiguration config() const
    {
        STTConfiguration config = STTConfiguration::defaults();
        config.baseURL = m_http->baseUrl().toString();
        config.apiKey = QStringLiteral("key-hostile");
        config.updateManifestURL = m_http->baseUrl().toString() + QStringLiteral("/latest.json");
        return config;
    }

    // Serves `body` as a successful answer to anything and runs the operation against it.
    std::shared_ptr<TaskOutcome<bool>> answerWith(const QString &operation, const QByteArray &body)
    {
        m_http->setFallback(
            [body](const RecordedRequest &) { return ScriptedResponse::json(200, body); });
        auto outcome = runCaptured(perform(m_client.get(), config(), operation));
        waitUntil([&] { return outcome->done; }, 30000);
        return outcome;
    }

    void streamRows()
    {
        QTest::addColumn<QByteArray>("frame");
        for (const auto &input : hostileFiles(QStringLiteral("stream-events")))
            QTest::newRow(qPrintable(input.name)) << input.bytes;
        QTest::newRow("generated: 4 MB text that never ends")
            << unterminatedString("{\"type\":\"partial\",\"text\":", 4 << 20);
        QTest::newRow("generated: 4 MB frame whose type is a number")
            << QByteArray("{\"text\":\"" + QByteArray(4 << 20, 'x') + "\",\"type\":5}");
        QTest::newRow("generated: 200 000 levels of nesting") << QByteArray(
            "{\"type\":\"partial\",\"text\":\"x\",\"extra\":" + deepNesting(200000) + "}");
    }

private Q_SLOTS:
    void init()
    {
        m_http = std::make_unique<LoopbackHttpPeer>();
        QVERIFY(m_http->start());
        m_network = std::make_unique<QNetworkAccessManager>();
        m_clock = std::make_unique<FakeClock>();
        m_client = std::make_unique<STTAPIClient>(m_network.get(), m_clock.get());
    }
    void cleanup()
    {
        m_client.reset();
        m_network.reset();
        m_clock.reset();
        m_http.reset();
    }

    void streamFrameGivesNoEvent_data() { streamRows(); }
    void streamFrameGivesNoEvent()
    {
        QFETCH(QByteArray, frame);
        const auto event = StreamEvent::parse(frame, m_clock->now());
        QVERIFY2(!event, event ? wire::compact(event->toJson()).constData() : "");
    }

    // The live client drops the frame without a word, keeps its socket and still delivers the
    // next good event: a hostile frame neither reaches the transcript nor breaks the stream.
    void streamClientSkipsTheFrame_data() { streamRows(); }
    void streamClientSkipsTheFrame()
    {
        QFETCH(QByteArray, frame);
        LoopbackStreamPeer peer;
        QVERIFY(peer.start());
        WebSocketStreamClient client(m_clock.get());
        QList<StreamEvent> events;
        client.open(peer.url().toString(), QStringLiteral("fi-FI"), QStringLiteral("chirp_3"),
                    [&events](const StreamEvent &event) { events.append(event); });
        QVERIFY(waitUntil(
            [&] { return peer.connectionCount() == 1 && !peer.connection().frames.isEmpty(); }));

        peer.sendBinary(frame);
        if (isValidUtf8(frame))
            peer.sendText(frame);
        peer.sendText("{\"type\":\"partial\",\"text\":\"vielä täällä\"}");
        QVERIFY(waitUntil([&] { return !events.isEmpty(); }));

        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first(),
                 StreamEvent {StreamEvent::Partial {QStringLiteral("vielä täällä")}});
        QVERIFY(client.isActive());
        QCOMPARE(peer.connectionCount(), 1);
        QCOMPARE(peer.openConnectionCount(), 1);
        client.close();
    }

    void restAnswerIsRefused_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QByteArray>("body");
        addRestRows(QStringLiteral("rest-bodies"));
        QTest::newRow("generated: meta count as a 2 MB string")
            << "meta"
            << QByteArray("{\"id\":\"abc\",\"audioBytes\":\"" + QByteArray(2 << 20, '9') + "\"}");
        QTest::newRow("generated: transcript text that never ends")
            << "transcript"
            << unterminatedString("{\"sessionId\":\"abc\",\"segments\":[{\"text\":", 4 << 20);
        QTest::newRow("generated: list nested 200 000 deep")
            << "list" << QByteArray("{\"items\":" + deepNesting(200000) + "}");
    }
    void restAnswerIsRefused()
    {
        QFETCH(QString, operation);
        QFETCH(QByteArray, body);

        const auto reason = refusalReason(operation, body);
        QVERIFY2(reason, "the decoder accepted the body");
        QVERIFY(!reason->isEmpty());

        const auto outcome = answerWith(operation, body);
        QVERIFY(outcome->done);
        QVERIFY2(outcome->error, "the client reported success");
        QCOMPARE(outcome->error->kind(), APIClientError::Kind::invalidResponse);
        QCOMPARE(outcome->error->localizedDescription(), kInvalidAnswer);
    }

    // A body that would decode, but is bigger than any real answer, is refused without being
    // held in memory whole.
    void oversizedAnswerIsRefused_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QByteArray>("body");
        const QByteArray text(17 << 20, 'a');
        QTest::newRow("transcript of 17 MB")
            << "transcript"
            << QByteArray("{\"sessionId\":\"abc\",\"segments\":[{\"text\":\"" + text + "\"}]}");
        QTest::newRow("manifest of 17 MB")
            << "manifest" << QByteArray("{\"version\":\"9.9.9\",\"app\":\"" + text + "\"}");
    }
    void oversizedAnswerIsRefused()
    {
        QFETCH(QString, operation);
        QFETCH(QByteArray, body);
        QVERIFY(!refusalReason(operation, body)); // only the size is wrong
        const auto outcome = answerWith(operation, body);
        QVERIFY(outcome->done);
        QVERIFY2(outcome->error, "the client reported success");
        QCOMPARE(outcome->error->kind(), APIClientError::Kind::invalidResponse);
    }

    // A broken manifest ends the update check as failed: no "up to date", no "update
    // available", and no page opened on its word.
    void manifestFailsTheUpdateCheck_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QByteArray>("body");
        addRestRows(QStringLiteral("manifests"), QStringLiteral("manifest"));
        QTest::newRow("generated: version that never ends")
            << "manifest"
            << unterminatedString("{\"downloadURL\":\"https://x.invalid/v\",\"version\":", 4 << 20);
        QTest::newRow("generated: artifacts nested 200 000 deep")
            << "manifest"
            << QByteArray("{\"version\":\"9.9.9\",\"artifacts\":" + deepNesting(200000) + "}");
    }
    void manifestFailsTheUpdateCheck()
    {
        QFETCH(QByteArray, body);
        QVERIFY2(refusalReason(QStringLiteral("manifest"), body), "the decoder accepted it");

        m_http->on("GET", QStringLiteral("/latest.json"), ScriptedResponse::json(200, body));
        FakeDesktopServices desktop;
        UpdateChecker checker(m_client.get(), &desktop, QStringLiteral("1.0.0"));
        std::optional<UpdateCheckResult> result;
        runCheck(&checker, config().updateManifestURL, &result);
        QVERIFY(waitUntil([&] { return result.has_value(); }, 30000));

        QCOMPARE(result->outcome, UpdateCheckResult::Outcome::failed);
        QCOMPARE(result->statusText,
                 QStringLiteral("Päivitystarkistus epäonnistui: ") + kInvalidAnswer);
        QVERIFY(!result->manifest);
        QVERIFY(desktop.openedUrls.isEmpty());
        QCOMPARE(m_http->requests().size(), 1);
    }
};

VERNALO_TEST_MAIN(HostileWireTest)
#include "test_hostile_wire.moc"
