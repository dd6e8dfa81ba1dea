// Hostile input from the network: stream frames, REST answers, update manifests and auth
// service replies. Each goes through the real client over loopback and must be refused the way
// the program refuses bad server data, never taken for a result: a "successful" auth reply that
// is not what it claims to be never signs anybody in, never stores a token and never lists
// users (what the update check makes of a refused manifest: test_update_checker).

#include "backend/websocket_stream_client.h"
#include "hostile_corpus.h"
#include "support/loopback_stream_peer.h"
#include "support/test_environment.h"
#include "unit/auth/auth_harness.h"
#include "unit/backend/api_client_fixture.h"
#include "wire/stream_event.h"

using namespace vernalo;
using namespace vernalo::test;

namespace {

const QString kInvalidAnswer = QStringLiteral("Virheellinen palvelinvaste");

// Where the rows of a REST table come from: the folder names the operation.
void addRestRows(const QString &kind, const QString &operation = QString())
{
    for (const auto &input : hostileFiles(kind)) {
        const QString op = operation.isEmpty() ? input.name.section(u'/', 0, 0) : operation;
        QTest::newRow(qPrintable(input.name)) << op << input.bytes;
    }
}

const QString kLoginFailed = QStringLiteral("Kirjautuminen epäonnistui.");
const QString kUnusableLogin = QStringLiteral("Virheellinen kirjautumisvastaus.");
const QString kOversized = QStringLiteral("Virheellinen vastaus auth-palvelulta");

void addAuthRows(const QString &folder, const QString &expected = QString())
{
    for (const auto &input : hostileFiles(QStringLiteral("auth-bodies/") + folder))
        QTest::newRow(qPrintable(folder + u'/' + input.name)) << input.bytes << expected;
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
        QTest::newRow("generated: transcript text that never ends") << "transcript" << unterminatedString("{\"sessionId\":\"abc\",\"segments\":[{\"text\":", 4 << 20);
        QTest::newRow("generated: list nested 200 000 deep") << "list" << QByteArray("{\"items\":" + deepNesting(200000) + "}");
        QTest::newRow("generated: version that never ends") << "manifest" << unterminatedString("{\"downloadURL\":\"https://x.invalid/v\",\"version\":", 4 << 20);
        // clang-format on
    }
    void restAnswerIsRefused()
    {
        QFETCH(QString, operation);
        QFETCH(QByteArray, body);

        m_answer = ScriptedResponse::json(200, body);
        const auto outcome = run({operation});
        QVERIFY(outcome->done);
        QVERIFY2(outcome->error, "the client reported success");
        QCOMPARE(outcome->error->kind(), APIClientError::Kind::invalidResponse);
        QCOMPARE(outcome->error->localizedDescription(), kInvalidAnswer);
    }

    void signInReplyIsRefused_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        addAuthRows(QStringLiteral("login"), kLoginFailed);
        addAuthRows(QStringLiteral("login-token"), kUnusableLogin);
        // clang-format off
        QTest::newRow("generated: token that never ends") << unterminatedString("{\"token\":", 900 << 10) << kLoginFailed;
        QTest::newRow("generated: user nested 200 000 deep") << QByteArray("{\"token\":\"tok-0123456789abcdef\",\"user\":" + deepNesting(200000) + "}") << kLoginFailed;
        QTest::newRow("generated: 4 MB reply, more than any sign-in needs") << QByteArray("{\"token\":\"" + QByteArray(4 << 20, 't') + "\"}") << kOversized;
        // clang-format on
    }
    void signInReplyIsRefused()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        AuthHarness rig;
        QVERIFY(rig.start());
        rig.peer.on("POST", QStringLiteral("/auth/login"), ScriptedResponse::json(200, body));
        const QByteArray storedBefore = rig.settingsFileBytes();

        QVERIFY(!rig.login());
        QCOMPARE(rig.manager->errorMessage(), message);
        QVERIFY(!rig.manager->isAuthenticated());
        QVERIFY(!rig.manager->currentUser());
        QVERIFY(!rig.manager->currentBackendSessionToken());
        QVERIFY(!rig.manager->isBusy());
        QCOMPARE(rig.settingsFileBytes(), storedBefore);
    }

    // The start-up check of a stored token gets a reply that names no valid user: nobody is
    // signed in on its word, not even the user of the stored, fresh verification.
    void verifyReplySignsNobodyIn_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        addAuthRows(QStringLiteral("verify"));
        // clang-format off
        QTest::newRow("generated: e-mail that never ends") << unterminatedString("{\"ok\":true,\"user\":{\"email\":", 4 << 20) << QString();
        // clang-format on
    }
    void verifyReplySignsNobodyIn()
    {
        QFETCH(QByteArray, body);
        AuthHarness rig;
        rig.storeSession(QStringLiteral("tok-stored-5c1e0d9a7b"), 60, {}, QStringLiteral("admin"));
        rig.peer.on("POST", QStringLiteral("/auth/verify"), ScriptedResponse::json(200, body));

        QVERIFY(rig.start());
        QCOMPARE(rig.sent(QStringLiteral("/auth/verify")).size(), 1);
        QVERIFY(!rig.manager->isAuthenticated());
        QVERIFY(!rig.manager->currentUser());
        QVERIFY(!rig.manager->isAdmin());
    }

    void userListIsRefused_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        addAuthRows(QStringLiteral("admin-users"));
        const QByteArray user = "{\"id\":1,\"email\":\"a@example.fi\"},";
        // clang-format off
        QTest::newRow("generated: 25 000 users, the last one without an e-mail") << QByteArray("{\"users\":[" + user.repeated(25000) + "{\"id\":2}]}") << QString();
        QTest::newRow("generated: 2 MB of users, more than the service may send") << QByteArray("{\"users\":[" + user.repeated(60000) + "{\"id\":2}]}") << kOversized;
        // clang-format on
    }
    void userListIsRefused()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        AuthHarness rig;
        QVERIFY(rig.start());
        rig.peer.on("GET", QStringLiteral("/admin/users"), ScriptedResponse::json(200, body));
        const auto result = QCoro::waitFor(rig.manager->adminListUsers(QStringLiteral("adm-7781")));
        QVERIFY2(!result.ok(), "a broken list was shown as users");
        // No text of the reply reaches the screen: the caller's own sentence (empty here) is
        // shown, or the transport's own for a reply too large to read.
        QCOMPARE(result.failure().description(QString()), message);
        QCOMPARE(rig.sent(QStringLiteral("/admin/users"), "GET").size(), 1);
    }
};

VERNALO_TEST_MAIN(HostileWireTest)
#include "test_hostile_wire.moc"
