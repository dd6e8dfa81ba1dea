// Hostile input from the network: stream frames, REST answers and update manifests. Each is
// fed both to its decoder and through the real client over loopback, and must be refused the
// way the program refuses bad server data, never taken for a result (what the update check
// makes of a refused manifest: test_update_checker).

#include "backend/websocket_stream_client.h"
#include "hostile_corpus.h"
#include "support/loopback_stream_peer.h"
#include "support/test_environment.h"
#include "unit/backend/api_client_fixture.h"
#include "wire/app_update_manifest.h"
#include "wire/health_response.h"
#include "wire/session_records.h"
#include "wire/stream_event.h"
#include "wire/summary_records.h"

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

// Where the rows of a REST table come from: the folder names the operation.
void addRestRows(const QString &kind, const QString &operation = QString())
{
    for (const auto &input : hostileFiles(kind)) {
        const QString op = operation.isEmpty() ? input.name.section(u'/', 0, 0) : operation;
        QTest::newRow(qPrintable(input.name)) << op << input.bytes;
    }
}

} // namespace

class HostileWireTest : public QObject, public ApiClientFixture
{
    Q_OBJECT
private Q_SLOTS:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // The live client drops the frame without a word, keeps its socket and still delivers the
    // next good event: a hostile frame neither reaches the transcript nor breaks the stream.
    void streamClientSkipsTheFrame_data()
    {
        QTest::addColumn<QByteArray>("frame");
        for (const auto &input : hostileFiles(QStringLiteral("stream-events")))
            QTest::newRow(qPrintable(input.name)) << input.bytes;
        // clang-format off
        QTest::newRow("generated: 4 MB text that never ends") << unterminatedString("{\"type\":\"partial\",\"text\":", 4 << 20);
        QTest::newRow("generated: 4 MB frame whose type is a number") << QByteArray("{\"text\":\"" + QByteArray(4 << 20, 'x') + "\",\"type\":5}");
        QTest::newRow("generated: 200 000 levels of nesting") << QByteArray( "{\"type\":\"partial\",\"text\":\"x\",\"extra\":" + deepNesting(200000) + "}");
        // clang-format on
    }
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
        addRestRows(QStringLiteral("manifests"), QStringLiteral("manifest"));
        // clang-format off
        QTest::newRow("generated: meta count as a 2 MB string") << "meta" << QByteArray("{\"id\":\"abc\",\"audioBytes\":\"" + QByteArray(2 << 20, '9') + "\"}");
        QTest::newRow("generated: transcript text that never ends") << "transcript" << unterminatedString("{\"sessionId\":\"abc\",\"segments\":[{\"text\":", 4 << 20);
        QTest::newRow("generated: list nested 200 000 deep") << "list" << QByteArray("{\"items\":" + deepNesting(200000) + "}");
        QTest::newRow("generated: version that never ends") << "manifest" << unterminatedString("{\"downloadURL\":\"https://x.invalid/v\",\"version\":", 4 << 20);
        // clang-format on
    }
    void restAnswerIsRefused()
    {
        QFETCH(QString, operation);
        QFETCH(QByteArray, body);

        const auto reason = refusalReason(operation, body);
        QVERIFY2(reason, "the decoder accepted the body");
        QVERIFY(!reason->isEmpty());

        m_answer = ScriptedResponse::json(200, body);
        const auto outcome = run({operation});
        QVERIFY(outcome->done);
        QVERIFY2(outcome->error, "the client reported success");
        QCOMPARE(outcome->error->kind(), APIClientError::Kind::invalidResponse);
        QCOMPARE(outcome->error->localizedDescription(), kInvalidAnswer);
    }
};

VERNALO_TEST_MAIN(HostileWireTest)
#include "test_hostile_wire.moc"
