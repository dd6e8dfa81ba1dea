#include "server_test_support.h"
#include "support/test_environment.h"

#include <QJsonDocument>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

const QString kScript = QStringLiteral("1 hello there\n");

} // namespace

class ServerHttpTest : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<InProcessServer> m_server;
    std::unique_ptr<HttpCaller> m_http;
    QByteArray m_demoToken;

private Q_SLOTS:
    void init()
    {
        server::ServerOptions options;
        options.demoUsers = {{QStringLiteral("demo@vernalo.local"), QStringLiteral("demo")},
                             {QStringLiteral("other@vernalo.local"), QStringLiteral("other")}};
        options.extraApiKeys = {QStringLiteral("extra-key")};
        options.adminKey = QStringLiteral("admin-secret");
        options.maxBodyBytes = 4096;
        m_server = std::make_unique<InProcessServer>(kScript, options);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_http = std::make_unique<HttpCaller>(m_server->baseUrl());
        m_demoToken = m_http->login(QStringLiteral("demo@vernalo.local"), QStringLiteral("demo"));
        QVERIFY(!m_demoToken.isEmpty());
    }
    void cleanup()
    {
        m_http.reset();
        m_server.reset();
    }

    void apiKeyAndToken_data()
    {
        QTest::addColumn<QByteArray>("apiKey");
        QTest::addColumn<QByteArray>("authToken"); // "DEMO" = the demo user's real token
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("no key") << QByteArray() << QByteArray() << 401
                                << "Virheellinen tai puuttuva API-avain";
        QTest::newRow("wrong key") << QByteArray("tuulikello") << QByteArray() << 401
                                   << "Virheellinen tai puuttuva API-avain";
        QTest::newRow("shared key with a suffix")
            << sharedApiKey() + "x" << QByteArray() << 401 << "Virheellinen tai puuttuva API-avain";
        QTest::newRow("shared key") << sharedApiKey() << QByteArray() << 201 << "";
        QTest::newRow("extra key") << QByteArray("extra-key") << QByteArray() << 201 << "";
        QTest::newRow("unknown user token") << sharedApiKey() << QByteArray("forged") << 401
                                            << "Kirjautuminen on vanhentunut. Kirjaudu uudelleen.";
        QTest::newRow("user token") << sharedApiKey() << QByteArray("DEMO") << 201 << "";
    }
    void apiKeyAndToken()
    {
        QFETCH(QByteArray, apiKey);
        QFETCH(QByteArray, authToken);
        QFETCH(int, status);
        QFETCH(QString, error);
        QList<QPair<QByteArray, QByteArray>> headers;
        if (!apiKey.isEmpty())
            headers.append({"x-api-key", apiKey});
        if (!authToken.isEmpty())
            headers.append({"x-auth-token", authToken == "DEMO" ? m_demoToken : authToken});
        const HttpResult result = m_http->call("POST", "/v1/sessions", sessionRequest(), headers);
        QCOMPARE(result.status, status);
        if (status == 201) {
            const QString wsUrl = result.json().value("wsUrl").toString();
            QVERIFY2(wsUrl.startsWith(
                         QStringLiteral("ws://127.0.0.1:%1/v1/stream/").arg(m_server->port())),
                     qPrintable(wsUrl));
            QVERIFY2(wsUrl.contains(result.json().value("sessionId").toString()),
                     qPrintable(wsUrl));
            // The stream token is unguessable: 32 random bytes.
            QVERIFY(QUrlQuery(QUrl(wsUrl)).queryItemValue("token").size() >= 43);
        } else {
            QCOMPARE(result.json().value("error").toString(), error);
            QCOMPARE(result.header("Content-Type"), QByteArray("application/json"));
        }
    }

    void administrationNeedsTheKey_data()
    {
        QTest::addColumn<bool>("keyConfigured");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<int>("status");
        QTest::newRow("no key") << true << QByteArray() << 401;
        QTest::newRow("one character short") << true << "admin-secre"_qba << 401;
        QTest::newRow("right key") << true << "admin-secret"_qba << 200;
        QTest::newRow("server without a key") << false << QByteArray() << 403;
    }
    void administrationNeedsTheKey()
    {
        QFETCH(bool, keyConfigured);
        QFETCH(QByteArray, key);
        QFETCH(int, status);
        InProcessServer plain(kScript);
        QString error;
        QVERIFY2(plain.start(&error), qPrintable(error));
        HttpCaller http(keyConfigured ? m_server->baseUrl() : plain.baseUrl());
        const Headers headers {{"X-Admin-Key", key}};
        QCOMPARE(http.call("GET", "/admin/users", {}, headers).status, status);
        QCOMPARE(http.call("POST", "/admin/users/2/disable", {}, headers).status, status);
    }

    // A signed-in user's sessions are theirs alone; their list filters by status, newest first.
    void sessionsBelongToTheirUserAndListNewestFirst()
    {
        const QByteArray other = m_http->login("other@vernalo.local", "other");
        m_http->setAuthToken(m_demoToken);
        auto create = [this] {
            m_server->clock().advance(std::chrono::seconds(1));
            return m_http->stt("POST", "/v1/sessions", sessionRequest())
                .json()
                .value("sessionId")
                .toString();
        };
        const QStringList ids {create(), create(), create()};
        const QString anonymous = HttpCaller(m_server->baseUrl())
                                      .stt("POST", "/v1/sessions", sessionRequest())
                                      .json()
                                      .value("sessionId")
                                      .toString();
        QCOMPARE(m_http->stt("GET", "/v1/sessions/" + ids[0]).status, 200);
        QCOMPARE(m_http->stt("GET", "/v1/sessions/" + ids[0], {}, other).status, 404);
        QCOMPARE(m_http->stt("DELETE", "/v1/sessions/" + ids[0], {}, other).status, 404);
        QCOMPARE(m_http->stt("GET", "/v1/sessions/" + anonymous).status, 404);
        for (const QString &id : {ids[0], ids[2]})
            QCOMPARE(m_http->stt("POST", "/v1/sessions/" + id + "/stop").status, 200);
        auto listed = [this](const QString &query) {
            QStringList out;
            for (const QJsonValue &item :
                 m_http->stt("GET", "/v1/sessions" + query).json().value("items").toArray())
                out << item.toObject().value("id").toString() + ' ' +
                        item.toObject().value("status").toString();
            return out;
        };
        QCOMPARE(listed("?limit=20&status=stopped"),
                 (QStringList {ids[2] + " stopped", ids[0] + " stopped"}));
        QCOMPARE(listed("?limit=2"), (QStringList {ids[2] + " stopped", ids[1] + " created"}));
        QCOMPARE(m_http->stt("DELETE", "/v1/sessions/" + ids[1]).status, 200);
        QCOMPARE(m_http->stt("GET", "/v1/sessions/" + ids[1]).status, 404);
        QCOMPARE(listed("?limit=20").size(), 2);
    }
};

VERNALO_TEST_MAIN(ServerHttpTest)
#include "test_server_http.moc"
