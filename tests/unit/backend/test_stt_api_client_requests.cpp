#include "api_client_fixture.h"
#include "support/test_environment.h"

using namespace vernalo;
using namespace vernalo::test;

class STTAPIClientRequestsTest : public QObject, public ApiClientFixture
{
    Q_OBJECT
private Q_SLOTS:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void requestWire_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("rawPath");
        QTest::addColumn<QByteArray>("body"); // "-": none, and no content type
        QTest::addColumn<bool>("authorized");
        QTest::addColumn<QByteArray>("answer");
        // clang-format off
        QTest::newRow("createSession") << "create" << "POST"_qba << "/v1/sessions"_qba << R"({"enableInterim":true,"enableSpeakerDiarization":false,"language":"fi-FI","speakerCount":0,"sttModel":"chirp_3"})"_qba << true << kCreate;
        QTest::newRow("stopSession") << "stop" << "POST"_qba << "/v1/sessions/abc/stop"_qba << "-"_qba << true << "{}"_qba;
        QTest::newRow("generateSummary with segments") << "summary" << "POST"_qba << "/v1/sessions/abc/summary"_qba << R"({"transcriptSegments":[{"text":"Hei","ts":"10:00:01"},{"speakerLabel":"S2","text":"Moi","ts":"10:00:04"}]})"_qba << true << kSummary;
        QTest::newRow("generateSummary without segments") << "summary-empty" << "POST"_qba << "/v1/sessions/abc/summary"_qba << ""_qba << true << kSummary;
        QTest::newRow("downloadSummaryDocx") << "docx" << "GET"_qba << "/v1/sessions/abc/summary/docx"_qba << "-"_qba << true << "PK\x03\x04 not json"_qba;
        QTest::newRow("getTranscript") << "transcript" << "GET"_qba << "/v1/sessions/abc/transcript"_qba << "-"_qba << true << kTranscript;
        QTest::newRow("getSessionMeta") << "meta" << "GET"_qba << "/v1/sessions/abc"_qba << "-"_qba << true << R"({"id":"abc","status":"live","audioFrameCount":4})"_qba;
        QTest::newRow("listSessions") << "list" << "GET"_qba << "/v1/sessions"_qba << "-"_qba << true << R"({"items":[{"id":"a"},{"id":"b"}]})"_qba;
        QTest::newRow("deleteSession") << "delete" << "DELETE"_qba << "/v1/sessions/abc"_qba << "-"_qba << true << ""_qba;
        QTest::newRow("health") << "health" << "GET"_qba << "/health"_qba << "-"_qba << false << R"({"ok":true,"time":"2026-01-05T09:00:00Z"})"_qba;
        QTest::newRow("fetchUpdateManifest") << "manifest" << "GET"_qba << "/vernalo/latest-linux.json"_qba << "-"_qba << false << R"({"version":"0.2.0","downloadURL":"https://example.invalid/v"})"_qba;
        // clang-format on
    }
    void requestWire()
    {
        QFETCH(QString, op);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, rawPath);
        QFETCH(QByteArray, body);
        QFETCH(bool, authorized);
        QFETCH(QByteArray, answer);

        m_answer = ScriptedResponse::json(200, answer);
        const auto outcome = run({op});
        QVERIFY2(!outcome->error,
                 qPrintable(outcome->error ? outcome->error->localizedDescription() : QString()));

        QCOMPARE(m_peer->requests().size(), 1);
        const RecordedRequest &request = m_peer->requests().constFirst();
        QCOMPARE(request.method, method);
        QCOMPARE(request.rawPath, rawPath);
        QCOMPARE(request.query.toString(QUrl::FullyEncoded),
                 op == u"list" ? QStringLiteral("limit=20") : QString());
        QCOMPARE(sentHeader(request, "content-type"),
                 body == "-" ? "<none>"_qba : "application/json"_qba);
        QCOMPARE(request.body, body == "-" ? QByteArray() : body);
        QCOMPARE(sentHeader(request, "x-api-key"), authorized ? "key-7f3a"_qba : "<none>"_qba);
        QCOMPARE(sentHeader(request, "x-auth-token"), authorized ? "token-91bc"_qba : "<none>"_qba);

        // The document arrives byte for byte (the records: answerDecoding).
        if (op == u"docx")
            QCOMPARE(outcome->value->toString().toLatin1(), answer);
    }

    // Every answer record, decoded by the client and re-encoded: exactly the keys that carried
    // values come back (nulls and unknown keys gone, absent optionals left out). Refused bodies
    // are the hostile corpus's.
    void answerDecoding_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("encoded"); // empty: same as the body
        // clang-format off
        QTest::newRow("create: complete") << "create" << R"({"sessionId":"s1","wsUrl":"ws://h/s","token":"t"})"_qba << ""_qba;
        QTest::newRow("create: unknown key ignored") << "create" << R"({"sessionId":"s1","wsUrl":"ws://h/s","token":"t","x":[1]})"_qba << R"({"sessionId":"s1","wsUrl":"ws://h/s","token":"t"})"_qba;
        QTest::newRow("transcript: segments with optional fields") << "transcript" << R"({"sessionId":"s","segments":[{"text":"a"},{"text":"b","ts":"2026-01-02T03:04:05.120Z","speakerLabel":"S1"}]})"_qba << ""_qba;
        QTest::newRow("transcript: null optionals dropped") << "transcript" << R"({"sessionId":"s","segments":[{"text":"a","ts":null,"speakerLabel":null}]})"_qba << R"({"sessionId":"s","segments":[{"text":"a"}]})"_qba;
        QTest::newRow("meta: empty object") << "meta" << "{}"_qba << ""_qba;
        QTest::newRow("meta: every field") << "meta" << R"({"id":"s","status":"live","createdAt":"a","endedAt":"b","language":"fi-FI","sttModel":"m","audioFrameCount":12,"audioBytes":38400,"avgAudioLevel":0.25,"peakAudioLevel":1,"interimCount":3,"finalCount":2,"segmentCount":2,"lastSttError":{"at":"c","code":7,"message":"quota"}})"_qba << ""_qba;
        QTest::newRow("list: two items") << "list" << R"({"items":[{"id":"a"},{"id":"b","status":"stopped"}]})"_qba << ""_qba;
        QTest::newRow("health: minimal") << "health" << R"({"ok":true,"time":"t"})"_qba << ""_qba;
        QTest::newRow("health: memoAI configured null") << "health" << R"({"ok":true,"time":"t","memoAI":{"configured":null,"model":"m"}})"_qba << R"({"ok":true,"time":"t","memoAI":{"model":"m"}})"_qba;
        QTest::newRow("summary: content fields optional") << "summary" << R"({"sessionId":"s","createdAt":"c","summary":{}})"_qba << ""_qba;
        QTest::newRow("summary: full content") << "summary" << R"({"sessionId":"s","createdAt":"c","summary":{"memoType":"meeting","confidence":0.8,"title":"T","summary":"S","cleanTranscript":"C"}})"_qba << ""_qba;
        QTest::newRow("manifest: version only") << "manifest" << R"({"version":"1.2.0"})"_qba << ""_qba;
        QTest::newRow("manifest: full") << "manifest" << R"({"app":"vernalo","channel":"stable","version":"2.0.0","buildNumber":"88","publishedAt":"p","minimumSystemVersion":"12","downloadURL":"https://d/x","releaseNotesURL":"https://d/n","artifacts":{"zip":{"file":"v.zip","sha256":"ab","size":1024,"url":"https://d/v.zip"}}})"_qba << ""_qba;
        // clang-format on
    }
    void answerDecoding()
    {
        QFETCH(QString, op);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, encoded);
        m_answer = ScriptedResponse::json(200, body);
        const auto outcome = run({op});
        QVERIFY(outcome->value);
        const QJsonDocument expected = QJsonDocument::fromJson(encoded.isEmpty() ? body : encoded);
        if (op == u"list")
            QCOMPARE(outcome->value->toArray(), expected[QStringLiteral("items")].toArray());
        else
            QCOMPARE(outcome->value->toObject(), expected.object());
    }

    void authHeaders_data()
    {
        QTest::addColumn<QString>("apiKey");
        QTest::addColumn<QString>("token"); // "<none>": no token
        QTest::addColumn<QByteArray>("sentKey"); // "<none>": the header is missing
        QTest::addColumn<QByteArray>("sentToken");
        // clang-format off
        QTest::newRow("trimmed of spaces and line breaks") << " \tkey-1\n" << "\r\ntok-1 " << "key-1"_qba << "tok-1"_qba;
        QTest::newRow("blank key, no token") << "   \n" << "<none>" << "<none>"_qba << "<none>"_qba;
        QTest::newRow("empty key, blank token") << "" << "  " << "<none>"_qba << "<none>"_qba;
        QTest::newRow("line break inside the key is not sent") << "key\r\nx-evil: 1" << "tok" << "<none>"_qba << "tok"_qba;
        QTest::newRow("non-ASCII key as UTF-8") << "avain-ä" << "<none>" << "avain-\xc3\xa4"_qba << "<none>"_qba;
        // clang-format on
    }
    void authHeaders()
    {
        QFETCH(QString, apiKey);
        QFETCH(QString, token);
        QFETCH(QByteArray, sentKey);
        QFETCH(QByteArray, sentToken);

        STTConfiguration cfg = config();
        cfg.apiKey = apiKey;
        cfg.authToken = token == u"<none>" ? std::nullopt : std::optional<QString>(token);
        m_answer = ScriptedResponse::json(200, kTranscript);
        QVERIFY(!run({QStringLiteral("transcript")}, cfg)->error);

        const RecordedRequest &request = m_peer->requests().constFirst();
        QCOMPARE(sentHeader(request, "x-api-key"), sentKey);
        QCOMPARE(sentHeader(request, "x-auth-token"), sentToken);
        QVERIFY(!request.hasHeader("x-evil"));
    }

    // Only the scheme, host and port of the base address count; the session ID is one path
    // segment whatever it holds, so it can never reach another resource.
    void requestAddress_data()
    {
        QTest::addColumn<QString>("base"); // %1 is the peer's port
        QTest::addColumn<QString>("sessionId");
        QTest::addColumn<QByteArray>("rawPath"); // empty: refused before sending
        const QString base = QStringLiteral("http://127.0.0.1:%1");
        // clang-format off
        QTest::newRow("path dropped") << "http://127.0.0.1:%1/api/v2" << "abc" << "/v1/sessions/abc/transcript"_qba;
        QTest::newRow("surrounding white space") << "  http://127.0.0.1:%1 \n" << "abc" << "/v1/sessions/abc/transcript"_qba;
        QTest::newRow("empty base") << "" << "abc" << QByteArray();
        QTest::newRow("spaces inside") << "http://127.0.0.1:%1/a b" << "abc" << QByteArray();
        QTest::newRow("no scheme") << "127.0.0.1:%1" << "abc" << QByteArray();
        QTest::newRow("other scheme") << "ftp://127.0.0.1:%1" << "abc" << QByteArray();
        QTest::newRow("no host") << "http:///v1" << "abc" << QByteArray();
        QTest::newRow("port out of range") << "http://127.0.0.1:99999" << "abc" << QByteArray();
        QTest::newRow("parent traversal") << base << "../x" << "/v1/sessions/..%2Fx/transcript"_qba;
        QTest::newRow("query smuggling") << base << "a?b=1" << "/v1/sessions/a%3Fb%3D1/transcript"_qba;
        QTest::newRow("space and percent") << base << "a b%20" << "/v1/sessions/a%20b%2520/transcript"_qba;
        QTest::newRow("non-ASCII") << base << "ä" << "/v1/sessions/%C3%A4/transcript"_qba;
        QTest::newRow("dots inside kept") << base << "a..b" << "/v1/sessions/a..b/transcript"_qba;
        QTest::newRow("empty ID") << base << "" << QByteArray();
        QTest::newRow("double dot") << base << ".." << QByteArray();
        // clang-format on
    }
    void requestAddress()
    {
        QFETCH(QString, base);
        QFETCH(QString, sessionId);
        QFETCH(QByteArray, rawPath);

        STTConfiguration cfg = config();
        cfg.baseURL = base.contains(u"%1") ? base.arg(m_peer->port()) : base;
        m_answer = ScriptedResponse::json(200, kTranscript);
        const auto outcome = run({QStringLiteral("transcript"), sessionId}, cfg);
        if (rawPath.isEmpty()) {
            QVERIFY(outcome->error);
            QCOMPARE(outcome->error->kind(), APIClientError::Kind::invalidBaseURL);
            QCOMPARE(outcome->error->localizedDescription(),
                     QStringLiteral("Virheellinen backend-osoite"));
            QVERIFY(m_peer->requests().isEmpty());
            return;
        }
        QVERIFY(!outcome->error);
        QCOMPARE(m_peer->requests().constFirst().rawPath, rawPath);
        QVERIFY(m_peer->requests().constFirst().query.isEmpty());
    }

    void listQuery_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("status"); // "<none>": absent
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("decodedStatus");
        // clang-format off
        QTest::newRow("limit 0 clamped up") << 0 << "<none>" << "limit=1" << "";
        QTest::newRow("limit 250 clamped down") << 250 << "<none>" << "limit=100" << "";
        QTest::newRow("status after limit") << 50 << "stopped" << "limit=50&status=stopped" << "stopped";
        QTest::newRow("blank status left out") << 10 << "  \n" << "limit=10" << "";
        QTest::newRow("status sent untrimmed") << 10 << " stopped " << "limit=10&status=%20stopped%20" << " stopped ";
        QTest::newRow("reserved characters escaped") << 10 << "a+b&limit=100" << "limit=10&status=a%2Bb%26limit%3D100" << "a+b&limit=100";
        // clang-format on
    }
    void listQuery()
    {
        QFETCH(int, limit);
        QFETCH(QString, status);
        QFETCH(QString, query);
        QFETCH(QString, decodedStatus);

        m_answer = ScriptedResponse::json(200, R"({"items":[]})");
        Call call {QStringLiteral("list")};
        call.limit = limit;
        if (status != u"<none>")
            call.status = status;
        QVERIFY(!run(call)->error);
        const RecordedRequest &request = m_peer->requests().constFirst();
        QCOMPARE(request.query.toString(QUrl::FullyEncoded), query);
        QCOMPARE(request.query.queryItemValue(QStringLiteral("status"), QUrl::FullyDecoded),
                 decodedStatus);
    }

    // Credentials follow a redirect within the backend, never to another server.
    void redirects_data()
    {
        QTest::addColumn<bool>("sameOrigin");
        // clang-format off
        QTest::newRow("same origin followed") << true;
        QTest::newRow("other port refused") << false;
        // clang-format on
    }
    void redirects()
    {
        QFETCH(bool, sameOrigin);
        LoopbackHttpPeer other;
        QVERIFY(other.start());
        other.setFallback(
            [](const RecordedRequest &) { return ScriptedResponse::json(200, kTranscript); });
        const QUrl target = (sameOrigin ? m_peer->baseUrl() : other.baseUrl())
                                .resolved(QUrl(QStringLiteral("/moved/transcript")));
        m_peer->on("GET", QStringLiteral("/v1/sessions/abc/transcript"),
                   {302, "", "text/plain", {{"Location", target.toEncoded()}}, false, {}});
        m_answer = ScriptedResponse::json(200, kTranscript);

        const auto outcome = run({QStringLiteral("transcript")});
        QCOMPARE(outcome->value.has_value(), sameOrigin);
        if (sameOrigin) {
            QCOMPARE(m_peer->requests().constLast().path, QStringLiteral("/moved/transcript"));
            QCOMPARE(m_peer->requests().constLast().header("x-api-key"), "key-7f3a"_qba);
        } else {
            QCOMPARE(outcome->error->kind(), APIClientError::Kind::invalidResponse);
        }
        QVERIFY(other.requests().isEmpty());
    }
};

VERNALO_TEST_MAIN(STTAPIClientRequestsTest)
#include "test_stt_api_client_requests.moc"
