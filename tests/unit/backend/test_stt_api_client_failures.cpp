#include "api_client_fixture.h"
#include "support/test_environment.h"

using namespace vernalo;
using namespace vernalo::test;

class STTAPIClientFailuresTest : public QObject, public ApiClientFixture
{
    Q_OBJECT
private Q_SLOTS:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // Error statuses give the server's own text when it has one (each operation reads them the
    // same way); an answer that breaks off, overflows the body cap or is not HTTP is never
    // reported as success, and the decoder's own words stay out of the message (undecodable
    // bodies: the hostile corpus).
    void failedAnswer_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QByteArray>("raw"); // whole raw answer; empty: nothing listens
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");

        const int server = int(APIClientError::Kind::serverError);
        const int invalid = int(APIClientError::Kind::invalidResponse);
        const int transport = int(APIClientError::Kind::transport);
        const QString bad = QStringLiteral("Virheellinen palvelinvaste");
        const QString cut = QStringLiteral("Yhteys palvelimeen katkesi");
        const QByteArray head = "HTTP/1.1 200 OK\r\n";
        const auto answer = [](int status, const QByteArray &type, const QByteArray &body) {
            return "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: " + type +
                "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        };
        const QByteArray json = "application/json";
        // clang-format off
        QTest::newRow("404 with error text") << "transcript" << answer(404, json, R"({"error":"Istuntoa ei löydy"})") << server << "Istuntoa ei löydy";
        QTest::newRow("500 HTML") << "delete" << answer(500, "text/html", "<html><body>Oops</body></html>") << server << "Palvelinvirhe (500)";
        QTest::newRow("400 error not a string") << "docx" << answer(400, json, R"({"error":42})") << server << "Palvelinvirhe (400)";
        QTest::newRow("401 empty body") << "health" << answer(401, json, "") << server << "Palvelinvirhe (401)";
        QTest::newRow("502 array") << "transcript" << answer(502, json, R"(["error"])") << server << "Palvelinvirhe (502)";
        QTest::newRow("409 no error key") << "delete" << answer(409, json, R"({"message":"taken"})") << server << "Palvelinvirhe (409)";
        QTest::newRow("503 empty error text") << "docx" << answer(503, json, R"({"error":""})") << server << "";
        QTest::newRow("500 error text, invalid UTF-8 elsewhere") << "health" << answer(500, json, "{\"error\":\"x\",\"y\":\"\xff\"}") << server << "Palvelinvirhe (500)";
        QTest::newRow("500 huge body") << "transcript" << answer(500, "text/plain", QByteArray(17 * 1024 * 1024, 'x')) << server << "Palvelinvirhe (500)";
        QTest::newRow("declared length above the cap") << "transcript" << head + "Content-Type: application/json\r\nContent-Length: 16777217\r\n\r\n{" << invalid << bad;
        QTest::newRow("no length, body above the cap") << "docx" << head + "Connection: close\r\n\r\n" + QByteArray(16 * 1024 * 1024 + 1, 'd') << invalid << bad;
        QTest::newRow("body cut short") << "transcript" << head + "Content-Length: 200\r\n\r\n{\"sessionId\":\"abc\"," << transport << cut;
        QTest::newRow("docx cut short") << "docx" << head + "Content-Length: 5000\r\n\r\nPK\x03\x04" << transport << cut;
        // Qt cannot tell a garbled answer from a connection that broke while reading it.
        QTest::newRow("not HTTP at all") << "meta" << "SSH-2.0-OpenSSH\r\n\r\n"_qba << transport << cut;
        QTest::newRow("nothing listens") << "meta" << QByteArray() << transport << "Palvelimeen ei saatu yhteyttä";
        // clang-format on
    }
    void failedAnswer()
    {
        QFETCH(QString, op);
        QFETCH(QByteArray, raw);
        QFETCH(int, kind);
        QFETCH(QString, text);

        m_answer = ScriptedResponse::rawBytes(raw);
        STTConfiguration cfg = config();
        if (raw.isEmpty())
            cfg.baseURL = QStringLiteral("http://127.0.0.1:%1").arg(closedPort());
        const auto outcome = run({op}, cfg);
        QVERIFY(!outcome->value);
        QVERIFY(outcome->error);
        QVERIFY2(int(outcome->error->kind()) == kind,
                 qPrintable(QStringLiteral("kind %1 code %2")
                                .arg(int(outcome->error->kind()))
                                .arg(outcome->error->networkErrorCode())));
        QCOMPARE(outcome->error->localizedDescription(), text);
    }

    // A body of exactly the cap is taken whole (one byte more: failedAnswer).
    void bodyOfExactlyTheCapIsKept()
    {
        QByteArray document(16 * 1024 * 1024, '\0');
        for (qsizetype i = 0; i < document.size(); i += 4093)
            document[i] = char(i % 251);
        m_answer = ScriptedResponse {200, document, "application/octet-stream", {}, false, {}};
        const auto outcome = finish(m_client->downloadSummaryDocx(config(), QStringLiteral("abc")));
        QVERIFY(outcome->value && *outcome->value == document);
    }

    // The time-out runs on the injected clock: nothing fails a millisecond early, and the
    // failure is a Finnish transport error.
    void timeOut_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<int>("timeoutMs");
        // clang-format off
        QTest::newRow("createSession") << "create" << 60000;
        QTest::newRow("generateSummary") << "summary" << 900000;
        QTest::newRow("fetchUpdateManifest") << "manifest" << 60000;
        // clang-format on
    }
    void timeOut()
    {
        QFETCH(QString, op);
        QFETCH(int, timeoutMs);

        m_answer.neverAnswer = true;
        const auto outcome = runCaptured(perform(m_client.get(), config(), {op}));
        QVERIFY(waitUntil([&] { return m_peer->heldCount() == 1; }));
        m_clock->advance(std::chrono::milliseconds(timeoutMs - 1));
        QVERIFY(!outcome->done);
        m_clock->advance(std::chrono::milliseconds(1));
        QVERIFY(waitUntil([&] { return outcome->done; }));
        QVERIFY(outcome->error);
        QCOMPARE(outcome->error->kind(), APIClientError::Kind::transport);
        QCOMPARE(outcome->error->transportReason(), APIClientError::Transport::timedOut);
        QCOMPARE(outcome->error->localizedDescription(),
                 QStringLiteral("Palvelin ei vastannut ajoissa"));
    }

    void stopNeverThrows_data()
    {
        QTest::addColumn<QString>("situation");
        // clang-format off
        QTest::newRow("unreachable host") << "unreachable";
        QTest::newRow("no answer until the time-out") << "silent";
        QTest::newRow("invalid base address") << "bad-base";
        QTest::newRow("empty session ID") << "empty-id";
        // clang-format on
    }
    void stopNeverThrows()
    {
        QFETCH(QString, situation);
        STTConfiguration cfg = config();
        Call call {QStringLiteral("stop")};
        if (situation == u"unreachable")
            cfg.baseURL = QStringLiteral("http://127.0.0.1:%1").arg(closedPort());
        else if (situation == u"500")
            m_answer = ScriptedResponse::json(500, R"({"error":"boom"})");
        else if (situation == u"silent")
            m_answer.neverAnswer = true;
        else if (situation == u"bad-base")
            cfg.baseURL = QStringLiteral("::");
        else
            call.sessionId.clear();

        const auto outcome = runCaptured(perform(m_client.get(), cfg, call));
        if (situation == u"silent") {
            QVERIFY(waitUntil([&] { return m_peer->heldCount() == 1; }));
            m_clock->advance(STTAPIClient::kDefaultTimeout);
        }
        QVERIFY(waitUntil([&] { return outcome->done; }));
        QVERIFY(!outcome->error);
    }
};

VERNALO_TEST_MAIN(STTAPIClientFailuresTest)
#include "test_stt_api_client_failures.moc"
