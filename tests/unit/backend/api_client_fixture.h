#pragma once

// Shared by the REST client tests: one loopback HTTP peer, a fake clock, the client under test,
// and a way to run any operation from a data table.

#include "backend/stt_api_client.h"
#include "support/fake_clock.h"
#include "support/loopback_http_peer.h"
#include "support/socket_wait.h"
#include "support/task_outcome.h"
#include "wire/wire_coding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QtTest>

namespace vernalo::test {

struct Call
{
    Call(QString operation, QString id = QStringLiteral("abc"))
        : op(std::move(operation))
        , sessionId(std::move(id))
    { }
    QString op;
    QString sessionId;
    std::optional<QString> status;
    int limit = 20;
};

inline QJsonValue asJson(const QList<SessionMetaResponse> &items)
{
    QJsonArray array;
    for (const auto &item : items)
        array.append(item.toJson());
    return array;
}

// Runs one operation and gives its result as JSON (records re-encoded, bytes as Latin-1 text),
// so one table can describe every endpoint.
inline QCoro::Task<QJsonValue> perform(STTAPIClient *client, STTConfiguration config, Call call)
{
    if (call.op == u"create") {
        STTSessionCreateRequest request {QStringLiteral("fi-FI"), true, QStringLiteral("chirp_3"),
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
            segments.append(
                {QStringLiteral("Moi"), QStringLiteral("10:00:04"), QStringLiteral("S2")});
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

// A header as it was sent, "<none>" when it was not.
inline QByteArray sentHeader(const RecordedRequest &request, const char *name)
{
    return request.hasHeader(name) ? request.header(name) : QByteArray("<none>");
}

inline const QByteArray kTranscript =
    R"({"sessionId":"abc","segments":[{"text":"Hei","ts":"2026-01-05T09:00:01Z"}]})";
inline const QByteArray kCreate =
    R"({"sessionId":"abc","wsUrl":"ws://127.0.0.1:1/s","token":"ws-token"})";
inline const QByteArray kSummary =
    R"({"sessionId":"abc","createdAt":"c","summary":{"title":"Muistio"}})";

class ApiClientFixture
{
protected:
    void setUp()
    {
        m_peer = std::make_unique<LoopbackHttpPeer>();
        QVERIFY(m_peer->start());
        m_answer = ScriptedResponse::json(200, "{}");
        m_peer->setFallback([this](const RecordedRequest &) { return m_answer; });
        m_network = std::make_unique<QNetworkAccessManager>();
        m_clock = std::make_unique<FakeClock>();
        m_client = std::make_unique<STTAPIClient>(m_network.get(), m_clock.get());
    }
    void tearDown()
    {
        m_client.reset();
        m_network.reset();
        m_clock.reset();
        m_peer.reset();
    }

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

    template<typename T> std::shared_ptr<TaskOutcome<T>> finish(QCoro::Task<T> task)
    {
        auto outcome = runCaptured(std::move(task));
        // Bodies of many megabytes take their time through loopback on a loaded machine.
        if (!waitUntil([&] { return outcome->done; }, 30000))
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
};

} // namespace vernalo::test
