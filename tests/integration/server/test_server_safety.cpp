#include "server_test_support.h"
#include "session_registry.h"
#include "support/socket_wait.h"
#include "support/test_environment.h"

#include <QJsonDocument>
#include <QSslSocket>
#include <QTcpSocket>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The last response on a connection, which is the one about the request under test.
QByteArray lastResponse(const QByteArray &answer)
{
    const qsizetype last = answer.lastIndexOf("HTTP/1.1 ");
    return last < 0 ? QByteArray() : answer.mid(last);
}

} // namespace

// What a server left running on a workstation refuses: slow, oversized and foreign requests,
// guessing, other people's anonymous sessions and more work than it can hold.
class ServerSafetyTest : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<InProcessServer> m_server;
    std::unique_ptr<HttpCaller> m_http;

    void start(server::ServerOptions options = {})
    {
        options.demoUsers = {{QStringLiteral("demo@vernalo.local"), QStringLiteral("demo")}};
        options.adminKey = QStringLiteral("admin-secret");
        options.extraApiKeys = {QStringLiteral("extra-key")};
        options.maxBodyBytes = 4096;
        m_server = std::make_unique<InProcessServer>(QStringLiteral("1 hello there\n"), options);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_http = std::make_unique<HttpCaller>(m_server->baseUrl());
    }
    HttpResult login(const QString &email, const QString &password)
    {
        return m_http->call("POST", "/auth/login",
                            json({{"email", email}, {"password", password}}));
    }

private Q_SLOTS:
    void cleanup()
    {
        m_http.reset();
        m_server.reset();
    }

    // A head has 10 s to arrive from its first byte; a connection without one is closed after
    // 60 s. One (fake) second passes per step, and a head byte goes out with each while trickling.
    void slowConnections_data()
    {
        QTest::addColumn<bool>("trickle");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<bool>("finishHead"); // then send the rest of the request
        QTest::addColumn<QByteArray>("answer"); // empty: closed without one
        QTest::newRow("head finished within its time") << true << 8 << true << "HTTP/1.1 200"_qba;
        QTest::newRow("head still unfinished after it")
            << true << 15 << false << "HTTP/1.1 408"_qba;
        QTest::newRow("silent connection within the idle time")
            << false << 55 << true << "HTTP/1.1 200"_qba;
        QTest::newRow("silent connection after it") << false << 65 << false << QByteArray();
    }
    void slowConnections()
    {
        QFETCH(bool, trickle);
        QFETCH(int, seconds);
        QFETCH(bool, finishHead);
        QFETCH(QByteArray, answer);
        start();
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_server->port());
        QVERIFY(waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }));
        const QByteArray head =
            "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + QByteArray(100, 'a');
        for (int second = 0; second < seconds; ++second) {
            if (trickle)
                socket.write(head.mid(second, 1));
            socket.flush();
            QCoreApplication::processEvents();
            m_server->clock().advance(1s);
        }
        if (finishHead)
            socket.write((trickle ? head.mid(seconds) : head) + "\r\n\r\n");
        QByteArray received;
        waitUntil([&] {
            received += socket.readAll();
            return socket.state() != QAbstractSocket::ConnectedState ||
                (finishHead && received.contains("\r\n\r\n"));
        });
        QVERIFY2(answer.isEmpty() ? received.isEmpty() : received.startsWith(answer),
                 received.constData());
        QCOMPARE(socket.state() == QAbstractSocket::ConnectedState, finishHead);
    }

    // The guard answers from the head alone, before the body is read, and keeps checking every
    // request of a connection.
    void sizeLimits_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("statusLine");
        const QByteArray post = "POST /auth/login HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        QTest::newRow("declared 100 MB, only the head sent")
            << post + "Content-Length: 100000000\r\n\r\n{"
            << "HTTP/1.1 413"_qba;
        QTest::newRow("one byte over the cap")
            << post + "Content-Length: 4097\r\n\r\n" + QByteArray(4097, ' ') << "HTTP/1.1 413"_qba;
        QTest::newRow("exactly the cap is read and judged")
            << post + "Content-Length: 4096\r\n\r\n{}" + QByteArray(4094, ' ')
            << "HTTP/1.1 400"_qba;
        QTest::newRow("chunked body")
            << post + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"
            << "HTTP/1.1 411"_qba;
        QTest::newRow("head over 64 KiB, unfinished")
            << post + "X-Padding: " + QByteArray(70 * 1024, 'a') << "HTTP/1.1 431"_qba;
        QTest::newRow("finished head over 64 KiB")
            << post + "X-Padding: " + QByteArray(65 * 1024, 'a') + "\r\n\r\n"
            << "HTTP/1.1 431"_qba;
        QTest::newRow("second request on the connection")
            << post + "Content-Length: 2\r\n\r\n{}" + post + "Content-Length: 999999\r\n\r\n"
            << "HTTP/1.1 413"_qba;
        QTest::newRow("two lengths")
            << post + "Content-Length: 2\r\nContent-Length: 999999\r\n\r\n{}"
            << "HTTP/1.1 400"_qba;
        QTest::newRow("length and chunked")
            << post + "Content-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n{}"
            << "HTTP/1.1 400"_qba;
        // Without a key the session route would answer 401: a 400 is the guard's.
        QTest::newRow("length with a sign")
            << "POST /v1/sessions HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: +2\r\n\r\n{}"_qba
            << "HTTP/1.1 400"_qba;
        QTest::newRow("bare line feeds")
            << "POST /v1/sessions HTTP/1.1\nHost: 127.0.0.1\nContent-Length: 2\n\n{}"_qba
            << "HTTP/1.1 400"_qba;
        QTest::newRow("an Upgrade header does not switch the guard off")
            << post + "Upgrade: websocket\r\nContent-Length: 2\r\n\r\n{}" + post +
                "Content-Length: 999999\r\n\r\n"
            << "HTTP/1.1 413"_qba;
        QTest::newRow("upgrade with a body")
            << "GET /v1/stream/x HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\n"
               "Upgrade: websocket\r\nContent-Length: 999999\r\n\r\n"_qba
            << "HTTP/1.1 400"_qba;
    }
    void sizeLimits()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, statusLine);
        start();
        const QByteArray answer = lastResponse(HttpCaller::rawExchange(m_server->port(), request));
        QVERIFY2(answer.startsWith(statusLine), answer.left(300).constData());
        const QByteArray body = answer.mid(answer.indexOf("\r\n\r\n") + 4);
        QVERIFY2(QJsonDocument::fromJson(body).object().value("error").isString(),
                 body.constData());
        QCOMPARE(m_http->call("GET", "/health").status, 200);
    }

    void hostsAndOrigins_data()
    {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::newRow("loopback address") << "Host: 127.0.0.1:8787\r\n"_qba
                                          << "HTTP/1.1 200"_qba;
        QTest::newRow("localhost") << "Host: LOCALHOST\r\n"_qba
                                   << "HTTP/1.1 200"_qba;
        QTest::newRow("configured name") << "Host: meetings.lan\r\n"_qba
                                         << "HTTP/1.1 200"_qba;
        QTest::newRow("rebound name") << "Host: evil.example:8787\r\n"_qba
                                      << "HTTP/1.1 421"_qba;
        QTest::newRow("no host") << QByteArray() << "HTTP/1.1 421"_qba;
        QTest::newRow("listed origin") << "Host: localhost\r\nOrigin: https://app.example\r\n"_qba
                                       << "HTTP/1.1 200"_qba;
        QTest::newRow("unlisted origin") << "Host: localhost\r\nOrigin: http://evil.example\r\n"_qba
                                         << "HTTP/1.1 403"_qba;
    }
    void hostsAndOrigins()
    {
        QFETCH(QByteArray, headers);
        QFETCH(QByteArray, statusLine);
        server::ServerOptions options;
        options.allowedHosts = {QStringLiteral("meetings.lan")};
        options.allowedOrigins = {QStringLiteral("https://app.example")};
        start(options);
        const QByteArray answer = HttpCaller::rawExchange(
            m_server->port(), "GET /health HTTP/1.1\r\n" + headers + "\r\n");
        QVERIFY2(answer.startsWith(statusLine), answer.left(200).constData());
        // A live stream from a foreign page is refused the same way.
        if (!statusLine.endsWith("403") || !headers.contains("evil"))
            return;
        const QJsonObject created = m_http->stt("POST", "/v1/sessions", sessionRequest()).json();
        QNetworkRequest request(QUrl(created.value("wsUrl").toString()));
        request.setRawHeader("Origin", headers.mid(headers.indexOf("Origin: ") + 8).trimmed());
        StreamPeer peer;
        peer.socket().open(request);
        QVERIFY(peer.waitForEvent("error"));
        QVERIFY(peer.waitForClose());
        QCOMPARE(m_server->server().registry().liveStreamCount(), 0);
    }

    void guessingBacksOff_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("one account") << "account";
        QTest::newRow("many accounts from one address") << "address";
        QTest::newRow("password change") << "change";
        QTest::newRow("admin key") << "admin";
    }
    void guessingBacksOff()
    {
        QFETCH(QString, kind);
        start();
        const QByteArray token = m_http->login("demo@vernalo.local", "demo");
        auto attempt = [&](int i) {
            if (kind == "account")
                return login("demo@vernalo.local", QStringLiteral("guess%1").arg(i));
            if (kind == "address")
                return login(QStringLiteral("user%1@vernalo.local").arg(i), "guess");
            if (kind == "change")
                return m_http->call(
                    "POST", "/auth/change-password",
                    json({{"currentPassword", "guess"}, {"newPassword", "uusi-salasana"}}),
                    {{"Authorization", "Bearer " + token}});
            return m_http->call("GET", "/admin/users", {}, {{"X-Admin-Key", "guess"}});
        };
        for (int i = 0; i < 5; ++i)
            QVERIFY(attempt(i).status != 429);
        const HttpResult refused = attempt(5);
        QCOMPARE(refused.status, 429);
        QCOMPARE(refused.header("Retry-After"), QByteArray("1"));
        m_server->clock().advance(1s);
        QVERIFY(attempt(6).status != 429);
        // Each failure beyond the free ones doubles the wait.
        QCOMPARE(attempt(7).header("Retry-After"), QByteArray("2"));
    }

    // A disabled account answers the same for the right and a wrong password.
    void disabledAccountDoesNotConfirmPasswords()
    {
        start();
        QCOMPARE(
            m_http->call("POST", "/admin/users/1/disable", {}, {{"X-Admin-Key", "admin-secret"}})
                .status,
            200);
        QCOMPARE(login("demo@vernalo.local", "demo").status, 403);
        QCOMPARE(login("demo@vernalo.local", "wrong").status, 403);
    }

    void anonymousSessionsStayPrivate_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("apiKey");
        QTest::addColumn<int>("status");
        QTest::newRow("read with the same key") << "GET"_qba
                                                << "" << sharedApiKey() << 200;
        QTest::newRow("read with another key") << "GET"_qba
                                               << ""
                                               << "extra-key"_qba << 404;
        QTest::newRow("transcript with another key") << "GET"_qba
                                                     << "/transcript"
                                                     << "extra-key"_qba << 404;
        QTest::newRow("stop with another key") << "POST"_qba
                                               << "/stop"
                                               << "extra-key"_qba << 404;
        QTest::newRow("delete with another key") << "DELETE"_qba
                                                 << ""
                                                 << "extra-key"_qba << 404;
    }
    void anonymousSessionsStayPrivate()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, suffix);
        QFETCH(QByteArray, apiKey);
        QFETCH(int, status);
        start();
        const QString id = m_http->stt("POST", "/v1/sessions", sessionRequest())
                               .json()
                               .value("sessionId")
                               .toString();
        // The shared key is public: its list does not hand out the ids.
        QCOMPARE(m_http->stt("GET", "/v1/sessions").json().value("items").toArray().size(), 0);
        QCOMPARE(
            m_http->call(method, "/v1/sessions/" + id + suffix, {}, {{"x-api-key", apiKey}}).status,
            status);
    }

    void tlsServesHttpsAndWss()
    {
        const QString cert = QStringLiteral(VERNALO_SERVER_TEST_DATA "/loopback-tls-cert.pem");
        server::ServerOptions options;
        options.tlsCertFile = cert;
        options.tlsKeyFile = QStringLiteral(VERNALO_SERVER_TEST_DATA "/loopback-tls-key.pem");
        start(options);
        QSslConfiguration trust = QSslConfiguration::defaultConfiguration();
        trust.setCaCertificates(QSslCertificate::fromPath(cert));
        QSslSocket socket;
        socket.setSslConfiguration(trust);
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_server->port());
        QVERIFY(waitUntil([&] { return socket.isEncrypted(); }));
        const QByteArray body = sessionRequest();
        socket.write("POST /v1/sessions HTTP/1.1\r\nHost: 127.0.0.1:" +
                     QByteArray::number(m_server->port()) + "\r\nx-api-key: " + sharedApiKey() +
                     "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QByteArray answer;
        waitUntil([&] { return (answer += socket.readAll()).contains("}"); });
        const QString wsUrl = QJsonDocument::fromJson(answer.mid(answer.indexOf("\r\n\r\n") + 4))
                                  .object()
                                  .value("wsUrl")
                                  .toString();
        QVERIFY2(wsUrl.startsWith(QStringLiteral("wss://127.0.0.1:")), answer.constData());
        StreamPeer peer;
        peer.socket().setSslConfiguration(trust);
        QVERIFY(peer.open(wsUrl));
        peer.sendStart();
        QVERIFY(peer.waitForEvent("status"));
    }
};

VERNALO_TEST_MAIN(ServerSafetyTest)
#include "test_server_safety.moc"
