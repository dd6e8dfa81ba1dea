#include "backend/stt_api_client.h"
#include "backend/wire_coding.h"
#include "support/fake_clock.h"
#include "support/loopback_http_peer.h"
#include "support/socket_wait.h"
#include "support/task_outcome.h"
#include "support/test_environment.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

struct Call
{
    Call(QString operation, QString id = QStringLiteral("abc"))
        : op(std::move(operation))
        , sessionId(std::move(id))
    {
    }
    QString op;
    QString sessionId;
    std::optional<QString> status;
    int limit = 20;
};

QJsonValue asJson(const QList<SessionMetaResponse> &items)
{
    QJsonArray array;
    for (const auto &item : items)
        array.append(item.toJson());
    return array;
}

// Runs one operation and gives its result as JSON (records re-encoded, bytes as Latin-1 text),
// so one table can describe every endpoint.
QCoro::Task<QJsonValue> perform(STTAPIClient *client, STTConfiguration config, Call call)
{
    if (call.op == u"create") {
        STTSessionCreateRequest request{QStringLiteral("fi-FI"), true, QStringLiteral("chirp_3"),
                                        false, 0};
        co_return (co_await client->createSession(config, request)).toJson();
    }
    if (call.op == u"stop") {
        co_await client->stopSession(config, call.sessionId);
        co_return QJsonValue();
    }
    if (call.op == u"summary" || call.op == u"summary-empty") {
        QList<SummaryGenerateRequest::Segment> segments;
        if (call.op == u"summary") {
            segments.append({QStringLiteral("Hei"), QStringLiteral("10:00:01"), std::nullopt});
            segments.append({QStringLiteral("Moi"), QStringLiteral("10:00:04"), QStringLiteral("S2")});
        }
        co_return (co_await client->generateSummary(config, call.sessionId, segments)).toJson();
    }
    if (call.op == u"docx")
        co_return QString::fromLatin1(co_await client->downloadSummaryDocx(config, call.sessionId));
    if (call.op == u"transcript")
        co_return (co_await client->getTranscript(config, call.sessionId)).toJson();
    if (call.op == u"meta")
        co_return (co_await client->getSessionMeta(config, call.sessionId)).toJson();
    if (call.op == u"list")
        co_return asJson(co_await client->listSessions(config, call.status, call.limit));
    if (call.op == u"delete") {
        co_await client->deleteSession(config, call.sessionId);
        co_return QJsonValue();
    }
    if (call.op == u"health")
        co_return (co_await client->health(config)).toJson();
    if (call.op == u"manifest")
        co_return (co_await client->fetchUpdateManifest(config.updateManifestURL)).toJson();
    qFatal("unknown operation");
}

QByteArray compactJson(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).toJson(QJsonDocument::Compact);
}

const QByteArray kTranscript = R"({"sessionId":"abc","segments":[{"text":"Hei","ts":"2026-01-05T09:00:01Z"}]})";
const QByteArray kCreate = R"({"sessionId":"abc","wsUrl":"ws://127.0.0.1:1/s","token":"ws-token"})";
const QByteArray kSummary = R"({"sessionId":"abc","createdAt":"c","summary":{"title":"Muistio"}})";

} // namespace

class STTAPIClientTest : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<LoopbackHttpPeer> m_peer;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<FakeClock> m_clock;
    std::unique_ptr<STTAPIClient> m_client;
    ScriptedResponse m_answer;

    STTConfiguration config() const
    {
        STTConfiguration config;
        config.baseURL = m_peer->baseUrl().toString() + QStringLiteral("/api");
        config.apiKey = QStringLiteral("key-7f3a");
        config.authToken = QStringLiteral("token-91bc");
        config.updateManifestURL =
            m_peer->baseUrl().toString() + QStringLiteral("/vernalo/latest-linux.json");
        return config;
    }

    template<typename T>
    std::shared_ptr<TaskOutcome<T>> finish(QCoro::Task<T> task)
    {
        auto outcome = runCaptured(std::move(task));
        if (!waitUntil([&] { return outcome->done; }))
            qWarning("operation did not finish");
        return outcome;
    }

    std::shared_ptr<TaskOutcome<QJsonValue>> run(const Call &call,
                                                 std::optional<STTConfiguration> cfg = {})
    {
        return finish(perform(m_client.get(), cfg.value_or(config()), call));
    }

    // A port on which nothing listens.
    static quint16 closedPort()
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        const quint16 port = server.serverPort();
        server.close();
        return port;
    }

private Q_SLOTS:
    void init()
    {
        m_peer = std::make_unique<LoopbackHttpPeer>();
        QVERIFY(m_peer->start());
        m_answer = ScriptedResponse::json(200, "{}");
        m_peer->setFallback([this](const RecordedRequest &) { return m_answer; });
        m_network = std::make_unique<QNetworkAccessManager>();
        m_clock = std::make_unique<FakeClock>();
        m_client = std::make_unique<STTAPIClient>(m_network.get(), m_clock.get());
    }
    void cleanup()
    {
        m_client.reset();
        m_network.reset();
        m_clock.reset();
        m_peer.reset();
    }

    // What each operation puts on the wire, and that its answer comes back decoded.
    void requestWire_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("rawPath");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body"); // "-" for none
        QTest::addColumn<bool>("authorized");
        QTest::addColumn<QByteArray>("answer");

        QTest::newRow("createSession")
            << "create" << "POST"_qba << "/v1/sessions"_qba << "" << "application/json"_qba
            << R"({"enableInterim":true,"enableSpeakerDiarization":false,"language":"fi-FI","speakerCount":0,"sttModel":"chirp_3"})"_qba
            << true << kCreate;
        QTest::newRow("stopSession") << "stop" << "POST"_qba << "/v1/sessions/abc/stop"_qba << ""
                                     << ""_qba << "-"_qba << true << "{}"_qba;
        QTest::newRow("generateSummary with segments")
            << "summary" << "POST"_qba << "/v1/sessions/abc/summary"_qba << ""
            << "application/json"_qba
            << R"({"transcriptSegments":[{"text":"Hei","ts":"10:00:01"},{"speakerLabel":"S2","text":"Moi","ts":"10:00:04"}]})"_qba
            << true << kSummary;
        QTest::newRow("generateSummary without segments")
            << "summary-empty" << "POST"_qba << "/v1/sessions/abc/summary"_qba << ""
            << "application/json"_qba << "-"_qba << true << kSummary;
        QTest::newRow("downloadSummaryDocx")
            << "docx" << "GET"_qba << "/v1/sessions/abc/summary/docx"_qba << "" << ""_qba << "-"_qba
            << true << "PK\x03\x04 not json"_qba;
        QTest::newRow("getTranscript") << "transcript" << "GET"_qba
                                       << "/v1/sessions/abc/transcript"_qba << "" << ""_qba
                                       << "-"_qba << true << kTranscript;
        QTest::newRow("getSessionMeta") << "meta" << "GET"_qba << "/v1/sessions/abc"_qba << ""
                                        << ""_qba << "-"_qba << true
                                        << R"({"id":"abc","status":"live","audioFrameCount":4})"_qba;
        QTest::newRow("listSessions") << "list" << "GET"_qba << "/v1/sessions"_qba << "limit=20"
                                      << ""_qba << "-"_qba << true
                                      << R"({"items":[{"id":"a"},{"id":"b"}]})"_qba;
        QTest::newRow("deleteSession") << "delete" << "DELETE"_qba << "/v1/sessions/abc"_qba << ""
                                       << ""_qba << "-"_qba << true << ""_qba;
        QTest::newRow("health") << "health" << "GET"_qba << "/health"_qba << "" << ""_qba << "-"_qba
                                << false << R"({"ok":true,"time":"2026-01-05T09:00:00Z"})"_qba;
        QTest::newRow("fetchUpdateManifest")
            << "manifest" << "GET"_qba << "/vernalo/latest-linux.json"_qba << "" << ""_qba << "-"_qba
            << false << R"({"version":"0.2.0","downloadURL":"https://example.invalid/v"})"_qba;
    }
    void requestWire()
    {
        QFETCH(QString, op);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, rawPath);
        QFETCH(QString, query);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(bool, authorized);
        QFETCH(QByteArray, answer);

        m_answer = ScriptedResponse::json(200, answer);
        const auto outcome = run({op});
        QVERIFY2(!outcome->error, qPrintable(outcome->error ? outcome->error->localizedDescription()
                                                           : QString()));

        QCOMPARE(m_peer->requests().size(), 1);
        const RecordedRequest &request = m_peer->requests().constFirst();
        QCOMPARE(request.method, method);
        QCOMPARE(request.rawPath, rawPath);
        QCOMPARE(request.query.toString(QUrl::FullyEncoded), query);
        QCOMPARE(request.header("content-type"), contentType);
        QCOMPARE(request.hasHeader("content-type"), !contentType.isEmpty());
        if (body == "-")
            QVERIFY2(request.body.isEmpty(), request.body.constData());
        else
            QCOMPARE(request.body, compactJson(body));
        QCOMPARE(request.header("x-api-key"), authorized ? "key-7f3a"_qba : ""_qba);
        QCOMPARE(request.header("x-auth-token"), authorized ? "token-91bc"_qba : ""_qba);
        QCOMPARE(request.hasHeader("x-api-key"), authorized);
        QCOMPARE(request.hasHeader("x-auth-token"), authorized);

        // The answer arrives decoded, with nothing lost or invented.
        if (op == u"docx") {
            QCOMPARE(outcome->value->toString().toLatin1(), answer);
        } else if (op == u"list") {
            QCOMPARE(outcome->value->toArray(),
                     QJsonDocument::fromJson(answer).object().value(QStringLiteral("items")).toArray());
        } else if (!answer.isEmpty() && op != u"stop") {
            QCOMPARE(outcome->value->toObject(), QJsonDocument::fromJson(answer).object());
        }
    }

    void authHeaders_data()
    {
        QTest::addColumn<QString>("apiKey");
        QTest::addColumn<QString>("token"); // "<none>" for an absent token
        QTest::addColumn<QByteArray>("sentKey"); // "<none>" when the header must be missing
        QTest::addColumn<QByteArray>("sentToken");

        QTest::newRow("trimmed of spaces and line breaks")
            << " \tkey-1\n" << "\r\ntok-1 " << "key-1"_qba << "tok-1"_qba;
        QTest::newRow("blank key, no token") << "   \n" << "<none>" << "<none>"_qba << "<none>"_qba;
        QTest::newRow("empty key, blank token") << "" << "  " << "<none>"_qba << "<none>"_qba;
        QTest::newRow("line break inside the key is not sent")
            << "key\r\nx-evil: 1" << "tok" << "<none>"_qba << "tok"_qba;
        QTest::newRow("non-ASCII key as UTF-8") << "avain-ä" << "<none>" << "avain-\xc3\xa4"_qba
                                                << "<none>"_qba;
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
        QCOMPARE(request.hasHeader("x-api-key"), sentKey != "<none>");
        QCOMPARE(request.hasHeader("x-auth-token"), sentToken != "<none>");
        if (sentKey != "<none>")
            QCOMPARE(request.header("x-api-key"), sentKey);
        if (sentToken != "<none>")
            QCOMPARE(request.header("x-auth-token"), sentToken);
        QVERIFY(!request.hasHeader("x-evil"));
    }

    void baseAddress_data()
    {
        QTest::addColumn<QString>("base"); // %1 is the peer's port
        QTest::addColumn<bool>("valid");

        QTest::newRow("path dropped") << "http://127.0.0.1:%1/api/v2" << true;
        QTest::newRow("query and fragment dropped") << "http://127.0.0.1:%1/x?y=1#z" << true;
        QTest::newRow("surrounding white space") << "  http://127.0.0.1:%1 \n" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("spaces inside") << "http://127.0.0.1:%1/a b" << false;
        QTest::newRow("no scheme") << "127.0.0.1:%1" << false;
        QTest::newRow("other scheme") << "ftp://127.0.0.1:%1" << false;
        QTest::newRow("no host") << "http:///v1" << false;
        QTest::newRow("port out of range") << "http://127.0.0.1:99999" << false;
    }
    void baseAddress()
    {
        QFETCH(QString, base);
        QFETCH(bool, valid);

        STTConfiguration cfg = config();
        cfg.baseURL = base.contains(u"%1") ? base.arg(m_peer->port()) : base;
        m_answer = ScriptedResponse::json(200, kTranscript);
        const auto outcome = run({QStringLiteral("transcript")}, cfg);
        if (valid) {
            QVERIFY(!outcome->error);
            QCOMPARE(m_peer->requests().constFirst().rawPath, "/v1/sessions/abc/transcript"_qba);
            QVERIFY(m_peer->requests().constFirst().query.isEmpty());
        } else {
            QVERIFY(outcome->error);
            QCOMPARE(outcome->error->kind(), APIClientError::Kind::invalidBaseURL);
            QCOMPARE(outcome->error->localizedDescription(),
                     QStringLiteral("Virheellinen backend-osoite"));
            QVERIFY(m_peer->requests().isEmpty());
        }
    }

    // A session ID is one path segment whatever it holds; it can never reach another resource.
    void sessionIdSegment_data()
    {
        QTest::addColumn<QString>("sessionId");
        QTest::addColumn<QByteArray>("rawPath"); // empty: refused before sending

        QTest::newRow("uuid unchanged") << "3F2504E0-4F89-11D3-9A0C-0305E82C3301"
                                        << "/v1/sessions/3F2504E0-4F89-11D3-9A0C-0305E82C3301/transcript"_qba;
        QTest::newRow("parent traversal") << "../x" << "/v1/sessions/..%2Fx/transcript"_qba;
        QTest::newRow("query smuggling") << "a?b=1" << "/v1/sessions/a%3Fb%3D1/transcript"_qba;
        QTest::newRow("fragment") << "a#b" << "/v1/sessions/a%23b/transcript"_qba;
        QTest::newRow("slash") << "a/b" << "/v1/sessions/a%2Fb/transcript"_qba;
        QTest::newRow("space and percent") << "a b%20" << "/v1/sessions/a%20b%2520/transcript"_qba;
        QTest::newRow("non-ASCII") << "ä" << "/v1/sessions/%C3%A4/transcript"_qba;
        QTest::newRow("dots inside kept") << "a..b" << "/v1/sessions/a..b/transcript"_qba;
        QTest::newRow("empty") << "" << QByteArray();
        QTest::newRow("single dot") << "." << QByteArray();
        QTest::newRow("double dot") << ".." << QByteArray();
    }
    void sessionIdSegment()
    {
        QFETCH(QString, sessionId);
        QFETCH(QByteArray, rawPath);

        m_answer = ScriptedResponse::json(200, kTranscript);
        const auto outcome = run({QStringLiteral("transcript"), sessionId});
        if (rawPath.isEmpty()) {
            QVERIFY(outcome->error);
            QCOMPARE(outcome->error->kind(), APIClientError::Kind::invalidBaseURL);
            QVERIFY(m_peer->requests().isEmpty());
            return;
        }
        QVERIFY(!outcome->error);
        QCOMPARE(m_peer->requests().constFirst().rawPath, rawPath);
    }

    void listQuery_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("status"); // "<none>" for absent
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("decodedStatus");

        QTest::newRow("limit 0 clamped up") << 0 << "<none>" << "limit=1" << "";
        QTest::newRow("negative limit") << -5 << "<none>" << "limit=1" << "";
        QTest::newRow("limit 250 clamped down") << 250 << "<none>" << "limit=100" << "";
        QTest::newRow("status after limit") << 50 << "stopped" << "limit=50&status=stopped"
                                            << "stopped";
        QTest::newRow("blank status left out") << 10 << "  \n" << "limit=10" << "";
        QTest::newRow("empty status left out") << 10 << "" << "limit=10" << "";
        QTest::newRow("status sent untrimmed") << 10 << " stopped " << "limit=10&status=%20stopped%20"
                                               << " stopped ";
        QTest::newRow("reserved characters escaped")
            << 10 << "a+b&limit=100" << "limit=10&status=a%2Bb%26limit%3D100" << "a+b&limit=100";
    }
    void listQuery()
    {
        QFETCH(int, limit);
        QFETCH(QString, status);
        QFETCH(QString, query);
        QFETCH(QString, decodedStatus);

        m_answer = ScriptedResponse::json(200, R"({"items":[]})");
        Call call{QStringLiteral("list")};
        call.limit = limit;
        if (status != u"<none>")
            call.status = status;
        QVERIFY(!run(call)->error);
        const RecordedRequest &request = m_peer->requests().constFirst();
        QCOMPARE(request.query.toString(QUrl::FullyEncoded), query);
        QCOMPARE(request.query.allQueryItemValues(QStringLiteral("limit")).size(), 1);
        QCOMPARE(request.query.queryItemValue(QStringLiteral("status"), QUrl::FullyDecoded),
                 decodedStatus);
    }

    void errorStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("text");

        QTest::newRow("404 with error text") << 404 << R"({"error":"Istuntoa ei löydy"})"_qba
                                             << "application/json"_qba << "Istuntoa ei löydy";
        QTest::newRow("500 HTML") << 500 << "<html><body>Oops</body></html>"_qba << "text/html"_qba
                                  << "Palvelinvirhe (500)";
        QTest::newRow("400 error not a string") << 400 << R"({"error":42})"_qba
                                                << "application/json"_qba << "Palvelinvirhe (400)";
        QTest::newRow("401 empty body") << 401 << ""_qba << "application/json"_qba
                                        << "Palvelinvirhe (401)";
        QTest::newRow("502 array") << 502 << R"(["error"])"_qba << "application/json"_qba
                                   << "Palvelinvirhe (502)";
        QTest::newRow("409 no error key") << 409 << R"({"message":"taken"})"_qba
                                          << "application/json"_qba << "Palvelinvirhe (409)";
        QTest::newRow("503 empty error text") << 503 << R"({"error":""})"_qba
                                              << "application/json"_qba << "";
        QTest::newRow("500 error text, invalid UTF-8 elsewhere")
            << 500 << "{\"error\":\"x\",\"y\":\"\xff\"}"_qba << "application/json"_qba
            << "Palvelinvirhe (500)";
        QTest::newRow("500 huge body") << 500 << QByteArray(17 * 1024 * 1024, 'x') << "text/plain"_qba
                                       << "Palvelinvirhe (500)";
    }
    void errorStatus()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(QString, text);

        m_answer = ScriptedResponse{status, body, contentType, {}, false, {}};
        QStringList ops{QStringLiteral("transcript"), QStringLiteral("delete"),
                        QStringLiteral("docx"), QStringLiteral("health")};
        if (body.size() > 1024 * 1024)
            ops.resize(1); // one huge answer is enough, and each one costs time
        for (const QString &op : std::as_const(ops)) {
            const auto outcome = run({op});
            QVERIFY2(outcome->error, qPrintable(op));
            QCOMPARE(outcome->error->kind(), APIClientError::Kind::serverError);
            QCOMPARE(outcome->error->localizedDescription(), text);
        }
    }

    // A success status whose body is unusable is never reported as success, and the decoder's
    // own words stay out of the message.
    void unusableSuccessBody_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QByteArray>("raw"); // whole raw answer, or a JSON body for a 200
        QTest::addColumn<bool>("isRaw");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");

        const int invalid = int(APIClientError::Kind::invalidResponse);
        const int transport = int(APIClientError::Kind::transport);
        const QString bad = QStringLiteral("Virheellinen palvelinvaste");

        QTest::newRow("not JSON") << "transcript" << "segments: none"_qba << false << invalid << bad;
        QTest::newRow("empty body") << "meta" << ""_qba << false << invalid << bad;
        QTest::newRow("empty body, create") << "create" << ""_qba << false << invalid << bad;
        QTest::newRow("wrong field type") << "create"
                                          << R"({"sessionId":1,"wsUrl":"w","token":"t"})"_qba
                                          << false << invalid << bad;
        QTest::newRow("missing field") << "transcript" << R"({"sessionId":"abc"})"_qba << false
                                       << invalid << bad;
        QTest::newRow("invalid UTF-8") << "summary"
                                       << "{\"sessionId\":\"\xfe\",\"createdAt\":\"c\",\"summary\":{}}"_qba
                                       << false << invalid << bad;
        QTest::newRow("top-level array") << "list" << R"([{"id":"a"}])"_qba << false << invalid << bad;
        QTest::newRow("list item mistyped") << "list" << R"({"items":[{"id":"a"},{"audioBytes":"1"}]})"_qba
                                            << false << invalid << bad;
        QTest::newRow("health ok as string") << "health" << R"({"ok":"yes","time":"t"})"_qba << false
                                             << invalid << bad;
        QTest::newRow("manifest without version") << "manifest" << R"({"downloadURL":"https://x"})"_qba
                                                  << false << invalid << bad;
        QTest::newRow("declared length above the cap")
            << "transcript"
            << "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 16777217\r\n\r\n{"_qba
            << true << invalid << bad;
        QTest::newRow("no length, body above the cap")
            << "docx"
            << "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n"_qba
                   + QByteArray(16 * 1024 * 1024 + 1, 'd')
            << true << invalid << bad;
        QTest::newRow("body cut short") << "transcript"
                                        << "HTTP/1.1 200 OK\r\nContent-Length: 200\r\n\r\n{\"sessionId\":\"abc\","_qba
                                        << true << transport << "Yhteys palvelimeen katkesi";
        QTest::newRow("docx cut short") << "docx"
                                        << "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\nPK\x03\x04"_qba
                                        << true << transport << "Yhteys palvelimeen katkesi";
        // Qt cannot tell a garbled answer from a connection that broke while reading it.
        QTest::newRow("not HTTP at all") << "meta" << "SSH-2.0-OpenSSH\r\n\r\n"_qba << true
                                         << transport << "Yhteys palvelimeen katkesi";
    }
    void unusableSuccessBody()
    {
        QFETCH(QString, op);
        QFETCH(QByteArray, raw);
        QFETCH(bool, isRaw);
        QFETCH(int, kind);
        QFETCH(QString, text);

        m_answer = isRaw ? ScriptedResponse::rawBytes(raw) : ScriptedResponse::json(200, raw);
        const auto outcome = run({op});
        QVERIFY(!outcome->value);
        QVERIFY(outcome->error);
        QVERIFY2(int(outcome->error->kind()) == kind,
                 qPrintable(QStringLiteral("kind %1 code %2")
                                .arg(int(outcome->error->kind()))
                                .arg(outcome->error->networkErrorCode())));
        QCOMPARE(outcome->error->localizedDescription(), text);
    }

    void bodyCapBoundary_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("exactly 16 MiB") << 16 * 1024 * 1024 << true;
        QTest::newRow("one byte more") << 16 * 1024 * 1024 + 1 << false;
    }
    void bodyCapBoundary()
    {
        QFETCH(int, size);
        QFETCH(bool, accepted);
        QByteArray document(size, '\0');
        for (int i = 0; i < size; i += 4093)
            document[i] = char(i % 251);
        m_answer = ScriptedResponse{200, document, "application/octet-stream", {}, false, {}};
        const auto outcome = finish(m_client->downloadSummaryDocx(config(), QStringLiteral("abc")));
        QCOMPARE(outcome->value.has_value(), accepted);
        if (accepted)
            QVERIFY(*outcome->value == document);
        else
            QCOMPARE(outcome->error->kind(), APIClientError::Kind::invalidResponse);
    }

    // The time-out runs on the injected clock: nothing fails a millisecond early, and the
    // failure is a Finnish transport error.
    void timeOut_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("createSession") << "create" << 60000;
        QTest::newRow("getTranscript") << "transcript" << 60000;
        QTest::newRow("generateSummary") << "summary" << 900000;
        QTest::newRow("health") << "health" << 60000;
        QTest::newRow("fetchUpdateManifest") << "manifest" << 60000;
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

    // Credentials follow a redirect within the backend, never to another server.
    void redirects_data()
    {
        QTest::addColumn<bool>("sameOrigin");
        QTest::addColumn<bool>("followed");
        QTest::newRow("same origin followed") << true << true;
        QTest::newRow("other port refused") << false << false;
    }
    void redirects()
    {
        QFETCH(bool, sameOrigin);
        QFETCH(bool, followed);

        LoopbackHttpPeer other;
        QVERIFY(other.start());
        other.setFallback([](const RecordedRequest &) { return ScriptedResponse::json(200, kTranscript); });
        const QUrl target = (sameOrigin ? m_peer->baseUrl() : other.baseUrl())
                                .resolved(QUrl(QStringLiteral("/moved/transcript")));
        m_peer->on("GET", QStringLiteral("/v1/sessions/abc/transcript"),
                   ScriptedResponse{302, "", "text/plain", {{"Location", target.toEncoded()}}, false, {}});
        m_answer = ScriptedResponse::json(200, kTranscript);

        const auto outcome = run({QStringLiteral("transcript")});
        QCOMPARE(outcome->value.has_value(), followed);
        if (followed) {
            QCOMPARE(m_peer->requests().constLast().path, QStringLiteral("/moved/transcript"));
            QCOMPARE(m_peer->requests().constLast().header("x-api-key"), "key-7f3a"_qba);
        } else {
            QCOMPARE(outcome->error->kind(), APIClientError::Kind::invalidResponse);
        }
        QVERIFY(other.requests().isEmpty());
    }

    void refusedConnection()
    {
        STTConfiguration cfg = config();
        cfg.baseURL = QStringLiteral("http://127.0.0.1:%1").arg(closedPort());
        const auto outcome = run({QStringLiteral("meta")}, cfg);
        QVERIFY(outcome->error);
        QCOMPARE(outcome->error->kind(), APIClientError::Kind::transport);
        QCOMPARE(outcome->error->localizedDescription(),
                 QStringLiteral("Palvelimeen ei saatu yhteyttä"));
    }

    void stopNeverThrows_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("unreachable host") << "unreachable";
        QTest::newRow("server error") << "500";
        QTest::newRow("no answer until the time-out") << "silent";
        QTest::newRow("invalid base address") << "bad-base";
        QTest::newRow("empty session ID") << "empty-id";
    }
    void stopNeverThrows()
    {
        QFETCH(QString, situation);
        STTConfiguration cfg = config();
        Call call{QStringLiteral("stop")};
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

    void manifestAddressRefused_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("empty") << "";
        QTest::newRow("not a URL") << "latest linux.json";
        QTest::newRow("relative") << "latest-linux.json";
        QTest::newRow("other scheme") << "ftp://127.0.0.1/latest-linux.json";
        QTest::newRow("local file") << "file:///etc/passwd";
    }
    void manifestAddressRefused()
    {
        QFETCH(QString, address);
        const auto outcome = finish(m_client->fetchUpdateManifest(address));
        QVERIFY(outcome->error);
        QCOMPARE(outcome->error->kind(), APIClientError::Kind::serverError);
        QCOMPARE(outcome->error->localizedDescription(),
                 QStringLiteral("Virheellinen päivitysfeed URL"));
        QVERIFY(m_peer->requests().isEmpty());
    }
};

VERNALO_TEST_MAIN(STTAPIClientTest)
#include "test_stt_api_client.moc"
