#include "foundation/build_info.h"
#include "server_test_support.h"
#include "support/test_environment.h"
#include "wire/app_update_manifest.h"
#include "wire/json_fields.h"
#include "wire/wire_coding.h"

#include <QJsonDocument>
#include <QTemporaryFile>
#include <QtTest>
#include <zip.h>

using namespace vernalo;
using namespace vernalo::test;

namespace {

const QString kScript = QStringLiteral("1 hello there\n");

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray zipEntry(const QByteArray &zipData, const char *name)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(zipData.constData(), zipData.size(), 0, &error);
    zip_t *archive = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    if (!archive) {
        zip_source_free(source);
        return {};
    }
    QByteArray content;
    zip_stat_t stat;
    if (zip_stat(archive, name, 0, &stat) == 0) {
        content.resize(static_cast<qsizetype>(stat.size));
        zip_file_t *file = zip_fopen(archive, name, 0);
        zip_fread(file, content.data(), stat.size);
        zip_fclose(file);
    }
    zip_close(archive);
    return content;
}

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

    void healthNeedsNoKey()
    {
        const HttpResult result = m_http->call("GET", "/health");
        QCOMPARE(result.status, 200);
        QCOMPARE(result.json().value("ok").toBool(), true);
        QVERIFY(result.json().value("memoAI").toObject().value("configured").toBool());
        QVERIFY(fromIso8601(result.json().value("time").toString()).has_value());
    }

    void badRequests_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("errorStart");
        QTest::newRow("truncated JSON")
            << QByteArray("POST") << "/v1/sessions" << QByteArray("{\"language\":") << 400
            << "Virheellinen JSON: ";
        QTest::newRow("array body") << QByteArray("POST") << "/v1/sessions" << QByteArray("[1]")
                                    << 400 << "JSON-rungon pitää olla objekti";
        QTest::newRow("mistyped field")
            << QByteArray("POST") << "/v1/sessions" << QByteArray("{\"enableInterim\":\"yes\"}")
            << 400 << "Virheellinen sessiopyyntö: ";
        QTest::newRow("negative speaker count")
            << QByteArray("POST") << "/v1/sessions" << QByteArray("{\"speakerCount\":-1}") << 400
            << "Virheellinen sessiopyyntö: ";
        QTest::newRow("login body not JSON")
            << QByteArray("POST") << "/auth/login" << QByteArray("email=a") << 400
            << "Virheellinen JSON: ";
        QTest::newRow("limit not a number")
            << QByteArray("GET") << "/v1/sessions?limit=ten" << QByteArray() << 400
            << "limit pitää olla kokonaisluku";
        QTest::newRow("unknown path") << QByteArray("GET") << "/v2/sessions" << QByteArray() << 404
                                      << "Tuntematon osoite: /v2/sessions";
        QTest::newRow("wrong method") << QByteArray("PUT") << "/v1/sessions" << QByteArray("{}")
                                      << 405 << "Menetelmä PUT ei ole sallittu";
        QTest::newRow("stream path without upgrade")
            << QByteArray("GET") << "/v1/stream/abc" << QByteArray() << 426
            << "Tämä osoite on WebSocket-striimi";
        QTest::newRow("unknown session") << QByteArray("GET") << "/v1/sessions/nope/transcript"
                                         << QByteArray() << 404 << "Sessiota ei löydy: nope";
    }
    void badRequests()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, errorStart);
        const HttpResult result = m_http->stt(method, path, body);
        QCOMPARE(result.status, status);
        const QString error = result.json().value("error").toString();
        QVERIFY2(error.startsWith(errorStart), qPrintable(error));
        if (status == 405)
            QCOMPARE(result.header("Allow"), QByteArray("POST, GET"));
        // The server is still there.
        QCOMPARE(m_http->call("GET", "/health").status, 200);
    }

    void sizeLimits_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("statusLine");
        const QByteArray post = "POST /auth/login HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        QTest::newRow("declared 100 MB, only the head sent: refused before the body")
            << post + "Content-Length: 100000000\r\n\r\n{" << QByteArray("HTTP/1.1 413");
        QTest::newRow("one byte over the cap, all sent") << post + "Content-Length: 4097\r\n\r\n" +
                QByteArray(4097, ' ') << QByteArray("HTTP/1.1 413");
        QTest::newRow("exactly the cap is read and judged")
            << post + "Content-Length: 4096\r\n\r\n{}" + QByteArray(4094, ' ')
            << QByteArray("HTTP/1.1 400");
        QTest::newRow("chunked body without a size")
            << post + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"
            << QByteArray("HTTP/1.1 411");
        QTest::newRow("endless header")
            << post + "X-Padding: " + QByteArray(70 * 1024, 'a') << QByteArray("HTTP/1.1 431");
        QTest::newRow("second request on the connection is checked too")
            << post + "Content-Length: 2\r\n\r\n{}" + post + "Content-Length: 999999\r\n\r\n"
            << QByteArray("HTTP/1.1 413");
        QTest::newRow("two lengths, the first small")
            << post + "Content-Length: 2\r\nContent-Length: 999999\r\n\r\n{}"
            << QByteArray("HTTP/1.1 400");
        QTest::newRow("length and chunked together")
            << post + "Content-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n{}"
            << QByteArray("HTTP/1.1 400");
        // Without a key the session route would answer 401: a 400 is the guard's.
        QTest::newRow("length with a sign")
            << "POST /v1/sessions HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: +2\r\n\r\n{}" +
                QByteArray()
            << QByteArray("HTTP/1.1 400");
        QTest::newRow("head with bare line feeds")
            << QByteArray("POST /v1/sessions HTTP/1.1\nHost: 127.0.0.1\nContent-Length: 2\n\n{}")
            << QByteArray("HTTP/1.1 400");
        QTest::newRow("an Upgrade header does not switch the guard off") << post +
                "Upgrade: websocket\r\nContent-Length: 2\r\n\r\n{}" + post +
                "Content-Length: 999999\r\n\r\n" << QByteArray("HTTP/1.1 413");
        QTest::newRow("upgrade with a body")
            << QByteArray("GET /v1/stream/x HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\n"
                          "Upgrade: websocket\r\nContent-Length: 999999\r\n\r\n")
            << QByteArray("HTTP/1.1 400");
    }
    void sizeLimits()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, statusLine);
        const QByteArray answer = HttpCaller::rawExchange(m_server->port(), request);
        // The last response on the connection is the one about the request under test.
        const qsizetype last = answer.lastIndexOf("HTTP/1.1 ");
        QVERIFY2(last >= 0 && answer.mid(last).startsWith(statusLine),
                 answer.left(300).constData());
        const QByteArray body = answer.mid(answer.indexOf("\r\n\r\n", last) + 4);
        QVERIFY2(QJsonDocument::fromJson(body).object().value("error").isString(),
                 body.constData());
        QCOMPARE(m_http->call("GET", "/health").status, 200);
    }

    void signInAndAccount()
    {
        // E-mail is matched case-insensitively, the password exactly.
        QVERIFY(!m_http->login(QStringLiteral("  DEMO@vernalo.local "), QStringLiteral("demo"))
                     .isEmpty());
        HttpResult wrong = m_http->call(
            "POST", "/auth/login", json({{"email", "demo@vernalo.local"}, {"password", "Demo"}}));
        QCOMPARE(wrong.status, 401);
        QCOMPARE(wrong.json().value("error").toString(),
                 QStringLiteral("Väärä sähköposti tai salasana."));

        const QList<QPair<QByteArray, QByteArray>> bearer {
            {"Authorization", "Bearer " + m_demoToken}};
        HttpResult verified = m_http->call("POST", "/auth/verify", {}, bearer);
        QCOMPARE(verified.status, 200);
        QCOMPARE(verified.json().value("user").toObject().value("email").toString(),
                 QStringLiteral("demo@vernalo.local"));
        QCOMPARE(
            m_http->call("POST", "/auth/verify", {}, {{"Authorization", "Bearer nope"}}).status,
            401);
        QCOMPARE(m_http->call("POST", "/auth/verify").status, 401);

        const QByteArray secondDevice =
            m_http->login(QStringLiteral("demo@vernalo.local"), QStringLiteral("demo"));
        auto change = [&](const QJsonObject &body) {
            return m_http->call("POST", "/auth/change_password", json(body), bearer);
        };
        QCOMPARE(change({{"currentPassword", "wrong"}, {"newPassword", "uusi-salasana"}}).status,
                 403);
        HttpResult tooShort = change({{"current_password", "demo"}, {"new_password", "lyhyt"}});
        QCOMPARE(tooShort.status, 400);
        QCOMPARE(tooShort.json().value("error").toString(),
                 QStringLiteral("Salasanan minimipituus on 10 merkkiä."));
        // Ten user-perceived characters, more bytes.
        HttpResult changed = change({{"currentPassword", "demo"}, {"newPassword", "äöåäöåäöåä"}});
        QCOMPARE(changed.status, 200);
        QCOMPARE(changed.json().value("message").toString(), QStringLiteral("Salasana vaihdettu."));
        QCOMPARE(m_http->call("POST", "/auth/verify", {}, bearer).status, 200);
        QCOMPARE(
            m_http->call("POST", "/auth/verify", {}, {{"Authorization", "Bearer " + secondDevice}})
                .status,
            401);
        QVERIFY(
            m_http->login(QStringLiteral("demo@vernalo.local"), QStringLiteral("demo")).isEmpty());
        QVERIFY(!m_http->login(QStringLiteral("demo@vernalo.local"), QStringLiteral("äöåäöåäöåä"))
                     .isEmpty());

        // A reset request answers the same for known and unknown addresses.
        const HttpResult known = m_http->call("POST", "/auth/request-password-reset",
                                              json({{"email", "demo@vernalo.local"}}));
        const HttpResult unknown =
            m_http->call("POST", "/auth/forgot-password", json({{"email", "ghost@vernalo.local"}}));
        QCOMPARE(known.status, 200);
        QCOMPARE(known.body, unknown.body);
    }

    void administration_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<int>("status");
        QTest::newRow("no key") << QByteArray() << 401;
        QTest::newRow("wrong key") << QByteArray("admin-secre") << 401;
        QTest::newRow("right key") << QByteArray("admin-secret") << 200;
    }
    void administration()
    {
        QFETCH(QByteArray, key);
        QFETCH(int, status);
        QList<QPair<QByteArray, QByteArray>> headers;
        if (!key.isEmpty())
            headers.append({"X-Admin-Key", key});
        const HttpResult list = m_http->call("GET", "/admin/users", {}, headers);
        QCOMPARE(list.status, status);
        if (status != 200) {
            QCOMPARE(list.json().value("error").toString(),
                     QStringLiteral("Virheellinen admin-avain."));
            QCOMPARE(m_http->call("POST", "/admin/users/1/disable", {}, headers).status, status);
            return;
        }
        QCOMPARE(list.json().value("users").toArray().size(), 2);
        const QJsonObject demo = list.json().value("users").toArray().at(0).toObject();
        QCOMPARE(demo.value("is_active").toBool(), true);
        QVERIFY(demo.contains("last_login_at"));
        const QString demoId = QString::number(demo.value("id").toInteger());

        HttpResult created = m_http->call("POST", "/admin/users",
                                          json({{"email", " New@Vernalo.local"},
                                                {"password", "pitkä-salasana"},
                                                {"role", "Admin "}}),
                                          headers);
        QCOMPARE(created.status, 201);
        const QString newId =
            QString::number(created.json().value("user").toObject().value("id").toInteger());
        QCOMPARE(created.json().value("user").toObject().value("role").toString(),
                 QStringLiteral("admin"));
        QCOMPARE(m_http
                     ->call("POST", "/admin/users",
                            json({{"email", "new@vernalo.local"}, {"password", "pitkä-salasana"}}),
                            headers)
                     .status,
                 409);
        QCOMPARE(m_http
                     ->call("POST", "/admin/users",
                            json({{"email", "x@vernalo.local"},
                                  {"password", "pitkä-salasana"},
                                  {"role", "root"}}),
                            headers)
                     .status,
                 400);
        QCOMPARE(m_http
                     ->call("POST", "/admin/users/" + newId.toUtf8() + "/set-role",
                            json({{"role", "user"}}), headers)
                     .status,
                 200);
        QCOMPARE(
            m_http->call("POST", "/admin/users/999/role", json({{"role", "user"}}), headers).status,
            422);

        // Disabling signs the user out everywhere and blocks sign-in until enabled again.
        QCOMPARE(m_http->call("POST", "/admin/users/" + demoId.toUtf8() + "/disable", {}, headers)
                     .status,
                 200);
        QCOMPARE(m_http->stt("POST", "/v1/sessions", sessionRequest(), m_demoToken).status, 401);
        const HttpResult blocked = m_http->call(
            "POST", "/auth/login", json({{"email", "demo@vernalo.local"}, {"password", "demo"}}));
        QCOMPARE(blocked.status, 403);
        QCOMPARE(
            m_http->call("POST", "/admin/users/" + demoId.toUtf8() + "/enable", {}, headers).status,
            200);
        QVERIFY(
            !m_http->login(QStringLiteral("demo@vernalo.local"), QStringLiteral("demo")).isEmpty());

        QCOMPARE(m_http
                     ->call("POST", "/admin/users/" + newId.toUtf8() + "/reset-password",
                            json({{"password", "toinen-salasana"}}), headers)
                     .status,
                 200);
        QVERIFY(
            !m_http->login(QStringLiteral("new@vernalo.local"), QStringLiteral("toinen-salasana"))
                 .isEmpty());
        QCOMPARE(m_http->call("DELETE", "/admin/users/" + newId.toUtf8(), {}, headers).status, 200);
        QVERIFY(
            m_http->login(QStringLiteral("new@vernalo.local"), QStringLiteral("toinen-salasana"))
                .isEmpty());
    }

    void administrationOffWithoutKey()
    {
        server::ServerOptions options;
        InProcessServer plain(kScript, options);
        QString error;
        QVERIFY2(plain.start(&error), qPrintable(error));
        HttpCaller http(plain.baseUrl());
        const HttpResult result = http.call("GET", "/admin/users", {}, {{"X-Admin-Key", ""}});
        QCOMPARE(result.status, 403);
    }

    void sessionsBelongToTheirUser()
    {
        const QByteArray other =
            m_http->login(QStringLiteral("other@vernalo.local"), QStringLiteral("other"));
        const QString mine = m_http->stt("POST", "/v1/sessions", sessionRequest(), m_demoToken)
                                 .json()
                                 .value("sessionId")
                                 .toString();
        const QString anonymous = m_http->stt("POST", "/v1/sessions", sessionRequest())
                                      .json()
                                      .value("sessionId")
                                      .toString();
        QCOMPARE(m_http->stt("GET", "/v1/sessions/" + mine, {}, m_demoToken).status, 200);
        QCOMPARE(m_http->stt("GET", "/v1/sessions/" + mine, {}, other).status, 404);
        QCOMPARE(m_http->stt("GET", "/v1/sessions/" + mine).status, 404);
        QCOMPARE(m_http->stt("DELETE", "/v1/sessions/" + mine, {}, other).status, 404);
        QCOMPARE(m_http->stt("GET", "/v1/sessions/" + anonymous, {}, m_demoToken).status, 404);
        const QJsonArray items = m_http->stt("GET", "/v1/sessions?limit=0", {}, m_demoToken)
                                     .json()
                                     .value("items")
                                     .toArray();
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.at(0).toObject().value("id").toString(), mine);
        QCOMPARE(m_http->stt("DELETE", "/v1/sessions/" + mine, {}, m_demoToken).status, 200);
        QCOMPARE(m_http->stt("GET", "/v1/sessions/" + mine, {}, m_demoToken).status, 404);
    }

    void listFiltersByStatusNewestFirst()
    {
        QStringList ids;
        for (int i = 0; i < 3; ++i) {
            ids << m_http->stt("POST", "/v1/sessions", sessionRequest(), m_demoToken)
                       .json()
                       .value("sessionId")
                       .toString();
            m_server->clock().advance(std::chrono::seconds(1));
        }
        QCOMPARE(m_http->stt("POST", "/v1/sessions/" + ids[0] + "/stop", {}, m_demoToken).status,
                 200);
        QCOMPARE(m_http->stt("POST", "/v1/sessions/" + ids[2] + "/stop", {}, m_demoToken).status,
                 200);
        const QJsonArray stopped =
            m_http->stt("GET", "/v1/sessions?limit=20&status=stopped", {}, m_demoToken)
                .json()
                .value("items")
                .toArray();
        QCOMPARE(stopped.size(), 2);
        QCOMPARE(stopped.at(0).toObject().value("id").toString(), ids[2]);
        QCOMPARE(stopped.at(1).toObject().value("id").toString(), ids[0]);
        QVERIFY(stopped.at(0).toObject().contains("endedAt"));
        const QJsonArray all = m_http->stt("GET", "/v1/sessions?limit=2", {}, m_demoToken)
                                   .json()
                                   .value("items")
                                   .toArray();
        QCOMPARE(all.size(), 2);
        QCOMPARE(all.at(0).toObject().value("status").toString(), QStringLiteral("stopped"));
        QCOMPARE(all.at(1).toObject().value("status").toString(), QStringLiteral("created"));
    }

    void memoFromFallbackTranscript()
    {
        const QString id = m_http->stt("POST", "/v1/sessions", sessionRequest("fi-FI"), m_demoToken)
                               .json()
                               .value("sessionId")
                               .toString();
        const HttpResult empty =
            m_http->stt("POST", "/v1/sessions/" + id + "/summary", {}, m_demoToken);
        QCOMPARE(empty.status, 422);
        QCOMPARE(m_http->stt("GET", "/v1/sessions/" + id + "/summary/docx", {}, m_demoToken).status,
                 422);

        const QJsonObject request {
            {"transcriptSegments",
             QJsonArray {QJsonObject {{"text", "Budjetti hyväksyttiin & julkaistaan"},
                                      {"ts", "2026-01-05T09:00:10Z"},
                                      {"speakerLabel", "Anna"}},
                         QJsonObject {{"text", "Seuraava budjetti kokous maanantaina"},
                                      {"ts", "2026-01-05T09:00:20Z"}}}}};
        const HttpResult summary =
            m_http->stt("POST", "/v1/sessions/" + id + "/summary", json(request), m_demoToken);
        QCOMPARE(summary.status, 200);
        QCOMPARE(summary.json().value("sessionId").toString(), id);
        QVERIFY(summary.json().value("summary").toObject().value("title").toString().startsWith(
            QStringLiteral("Muistio")));

        const HttpResult docx =
            m_http->stt("GET", "/v1/sessions/" + id + "/summary/docx", {}, m_demoToken);
        QCOMPARE(docx.status, 200);
        QVERIFY(docx.header("Content-Type").contains("wordprocessingml"));
        QVERIFY(docx.header("Content-Disposition").contains(id.toUtf8() + "-muistio.docx"));
        const QByteArray document = zipEntry(docx.body, "word/document.xml");
        QVERIFY2(document.contains("Anna: Budjetti hyväksyttiin &amp; julkaistaan"),
                 document.constData());
        QVERIFY(document.contains("Seuraava budjetti kokous maanantaina"));
    }

    // The served manifest is what the client's record reads; a file it would not read is
    // refused when the server starts, not served to fail every update check.
    void updateManifest_data()
    {
        QTest::addColumn<QByteArray>("file"); // empty: the generated manifest
        QTest::addColumn<QString>("refusal"); // empty: served
        QTest::newRow("generated") << QByteArray() << QString();
        QTest::newRow("file with download address")
            << R"({"version":"9.1.0","downloadURL":"https://example.invalid/v.deb","x":1})"_qba
            << QString();
        QTest::newRow("file with artifacts")
            << R"({"version":"9.1.0","artifacts":{"zip":{"file":"v.zip","size":12}}})"_qba
            << QString();
        QTest::newRow("version a number") << R"({"version":9})"_qba
                                          << "version: expected string";
        QTest::newRow("download address a number") << R"({"version":"9.1.0","downloadURL":5})"_qba
                                                   << "downloadURL: expected string";
        QTest::newRow("artifact without file")
            << R"({"version":"9.1.0","artifacts":{"zip":{"url":"u"}}})"_qba
            << "artifacts.zip.file";
        QTest::newRow("not JSON") << "version: 9.1.0"_qba
                                  << "is not one the client reads";
    }
    void updateManifest()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, refusal);
        QTemporaryFile manifestFile;
        server::ServerOptions options;
        if (!file.isEmpty()) {
            QVERIFY(manifestFile.open());
            manifestFile.write(file);
            manifestFile.close();
            options.updateManifestFile = manifestFile.fileName();
        }
        InProcessServer server(kScript, options);
        QString error;
        if (!refusal.isEmpty()) {
            QVERIFY(!server.start(&error));
            QVERIFY2(error.contains(refusal), qPrintable(error));
            return;
        }
        QVERIFY2(server.start(&error), qPrintable(error));
        HttpCaller http(server.baseUrl());
        for (const char *path : {"/vernalo/latest-linux.json", "/vernalo/latest-mac.json"}) {
            const HttpResult served = http.call("GET", QString::fromLatin1(path));
            QCOMPARE(served.status, 200);
            const auto manifest = wire::decode<AppUpdateManifest>(served.body, &error);
            QVERIFY2(manifest, qPrintable(error));
            if (file.isEmpty()) {
                QCOMPARE(manifest->version, buildinfo::version());
                QCOMPARE(manifest->publishedAt, toIso8601(server.clock().now()));
            } else {
                QCOMPARE(*manifest, *wire::decode<AppUpdateManifest>(file));
            }
        }
    }
};

VERNALO_TEST_MAIN(ServerHttpTest)
#include "test_server_http.moc"
