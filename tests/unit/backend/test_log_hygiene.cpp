#include "backend/stt_api_client.h"
#include "backend/websocket_stream_client.h"
#include "foundation/app_log.h"
#include "support/fake_clock.h"
#include "support/loopback_http_peer.h"
#include "support/loopback_stream_peer.h"
#include "support/socket_wait.h"
#include "support/task_outcome.h"
#include "support/test_environment.h"

#include <QNetworkAccessManager>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

// Keys and tokens travel in headers and stream addresses; none of them may reach the log file,
// which ends up in diagnostics packages sent to support.
class LogHygieneTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void secretsStayOutOfTheLog()
    {
        const QString apiKey = QStringLiteral("apikey-5be1c0de");
        const QString authToken = QStringLiteral("authtoken-77aa9e31");
        const QString streamToken = QStringLiteral("streamtoken-0d15ea5e");

        LoopbackHttpPeer http;
        QVERIFY(http.start());
        http.on("GET", QStringLiteral("/v1/sessions/s1/transcript"),
                ScriptedResponse::json(500, R"({"error":"boom"})"));
        http.on("GET", QStringLiteral("/v1/sessions/s1"), ScriptedResponse::json(200, "not json"));
        LoopbackStreamPeer stream;
        QVERIFY(stream.start());

        FakeClock clock;
        QNetworkAccessManager network;
        STTAPIClient client(&network, &clock);
        STTConfiguration config;
        config.baseURL = http.baseUrl().toString();
        config.apiKey = apiKey;
        config.authToken = authToken;

        auto transcript = runCaptured(client.getTranscript(config, QStringLiteral("s1")));
        auto meta = runCaptured(client.getSessionMeta(config, QStringLiteral("s1")));
        QVERIFY(waitUntil([&] { return transcript->done && meta->done; }));
        QVERIFY(transcript->error && meta->error);
        QCOMPARE(http.requests().constFirst().header("x-api-key"), apiKey.toUtf8());

        WebSocketStreamClient streamClient(&clock);
        QList<StreamEvent> events;
        const QString address =
            stream.url(QStringLiteral("/v1/sessions/s1/stream?token=") + streamToken).toString();
        streamClient.open(address, QStringLiteral("fi-FI"), QStringLiteral("chirp_3"),
                          [&](const StreamEvent &event) { events.append(event); });
        QVERIFY(waitUntil([&] { return stream.connectionCount() == 1; }));
        stream.closeWith(4000);
        QVERIFY(waitUntil([&] { return events.size() == 1; }));
        clock.advance(400ms);
        QVERIFY(waitUntil([&] { return stream.connectionCount() == 2; }));
        QCOMPARE(stream.connection().requestUrl.query(), QStringLiteral("token=") + streamToken);
        streamClient.close();

        const QString log = AppLog::snapshot(1024 * 1024);
        // The stream did write its lines, so the absence below means something.
        QVERIFY(
            log.contains(QStringLiteral("ws connect url=ws://127.0.0.1:%1/v1/sessions/s1/stream ")
                             .arg(stream.port())));
        QVERIFY(log.contains(QStringLiteral("ws reconnect scheduled attempt=1 delayMs=400")));
        for (const QString &secret : {apiKey, authToken, streamToken})
            QVERIFY2(!log.contains(secret), qPrintable(secret));
    }
};

VERNALO_TEST_MAIN(LogHygieneTest)
#include "test_log_hygiene.moc"
