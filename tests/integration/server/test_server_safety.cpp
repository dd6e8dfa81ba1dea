#include "server_test_support.h"
#include "session_registry.h"
#include "support/test_environment.h"

#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSslSocket>
#include <QTcpSocket>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

const QString kScript = QStringLiteral("1 hello there\n");
using Headers = QList<QPair<QByteArray, QByteArray>>;

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

// What a server left running on a workstation refuses: slow and foreign callers, guessing,
// other people's anonymous sessions and more work than it can hold.
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
        m_server = std::make_unique<InProcessServer>(kScript, options);
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

    void slowConnections_data()
    {
        QTest::addColumn<bool>("trickle");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("silent connection is closed") << false << QByteArray();
        QTest::newRow("head trickling in is cut off") << true << QByteArray("HTTP/1.1 408");
    }
    void slowConnections()
    {
        QFETCH(bool, trickle);
        QFETCH(QByteArray, answer);
        start();
        QTcpSocket socket;
        QSignalSpy connected(&socket, &QTcpSocket::connected);
        socket.connectToHost(QHostAddress::LocalHost, m_server->port());
        QVERIFY(connected.wait(5000));
        const QByteArray head =
            "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + QByteArray(500, 'a');
        // One byte a (fake) second for longer than any time-out; the server never sees a head end.
        for (int second = 0; second < 200 && socket.state() == QAbstractSocket::ConnectedState;
             ++second) {
            if (trickle)
                socket.write(head.mid(second, 1));
            socket.flush();
            QCoreApplication::processEvents();
            m_server->clock().advance(1s);
        }
        if (socket.state() == QAbstractSocket::ConnectedState) {
            QSignalSpy disconnected(&socket, &QTcpSocket::disconnected);
            QVERIFY(disconnected.wait(5000));
        }
        QVERIFY2(socket.readAll().startsWith(answer), answer.constData());
    }

    void hostsAndOrigins_data()
    {
        QTest::addColumn<QByteArray>("extraHeaders");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::newRow("loopback address")
            << QByteArray("Host: 127.0.0.1:8787\r\n") << QByteArray("HTTP/1.1 200");
        QTest::newRow("localhost")
            << QByteArray("Host: LOCALHOST\r\n") << QByteArray("HTTP/1.1 200");
        QTest::newRow("IPv6 loopback")
            << QByteArray("Host: [::1]:8787\r\n") << QByteArray("HTTP/1.1 200");
        QTest::newRow("configured name")
            << QByteArray("Host: meetings.lan\r\n") << QByteArray("HTTP/1.1 200");
        QTest::newRow("rebound name")
            << QByteArray("Host: evil.example:8787\r\n") << QByteArray("HTTP/1.1 421");
        QTest::newRow("no host") << QByteArray() << QByteArray("HTTP/1.1 421");
        QTest::newRow("listed origin")
            << QByteArray("Host: localhost\r\nOrigin: https://app.example\r\n")
            << QByteArray("HTTP/1.1 200");
        QTest::newRow("unlisted origin")
            << QByteArray("Host: localhost\r\nOrigin: http://evil.example\r\n")
            << QByteArray("HTTP/1.1 403");
        QTest::newRow("sandboxed page")
            << QByteArray("Host: localhost\r\nOrigin: null\r\n") << QByteArray("HTTP/1.1 403");
    }
    void hostsAndOrigins()
    {
        QFETCH(QByteArray, extraHeaders);
        QFETCH(QByteArray, statusLine);
        server::ServerOptions options;
        options.allowedHosts = {QStringLiteral("meetings.lan")};
        options.allowedOrigins = {QStringLiteral("https://app.example")};
        start(options);
        const QByteArray answer = HttpCaller::rawExchange(
            m_server->port(), "GET /health HTTP/1.1\r\n" + extraHeaders + "\r\n");
        QVERIFY2(answer.startsWith(statusLine), answer.left(200).constData());
    }

    void streamFromForeignPageIsRefused()
    {
        start();
        const QJsonObject created = m_http->stt("POST", "/v1/sessions", sessionRequest()).json();
        QNetworkRequest request(QUrl(created.value("wsUrl").toString()));
        request.setRawHeader("Origin", "http://evil.example");
        StreamPeer peer;
        QSignalSpy closed(&peer.socket(), &QWebSocket::disconnected);
        peer.socket().open(request);
        QVERIFY(closed.wait(5000));
        QCOMPARE(peer.events("error").size(), 1);
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
        QVERIFY(refused.json().value("error").isString());
        m_server->clock().advance(1s);
        QVERIFY(attempt(6).status != 429);
        // Each failure beyond the free ones doubles the wait.
        QCOMPARE(attempt(7).header("Retry-After"), QByteArray("2"));
    }

    void disabledAccountDoesNotConfirmPasswords_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("right password") << "demo";
        QTest::newRow("wrong password") << "wrong";
    }
    void disabledAccountDoesNotConfirmPasswords()
    {
        QFETCH(QString, password);
        start();
        QCOMPARE(
            m_http->call("POST", "/admin/users/1/disable", {}, {{"X-Admin-Key", "admin-secret"}})
                .status,
            200);
        QCOMPARE(login("demo@vernalo.local", password).status, 403);
    }

    void olderHashesAreUpgradedAtSignIn()
    {
        start();
        auto storedHash = [this] {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "peek");
            db.setDatabaseName(m_server->options().dataDir + "/reference-server.sqlite");
            QSqlQuery query(db);
            const bool read = db.open() &&
                query.exec("SELECT password_hash FROM users WHERE id = 1") && query.next();
            const QString hash = read ? query.value(0).toString() : QString();
            query = QSqlQuery();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase("peek");
            return hash.section('$', 1, 1);
        };
        QCOMPARE(storedHash(), QStringLiteral("1000"));
        m_server->options().passwordIterations = 2000;
        m_server->options().demoUsers.clear();
        QString error;
        QVERIFY2(m_server->restart(&error), qPrintable(error));
        QCOMPARE(login("demo@vernalo.local", "wrong").status, 401);
        QCOMPARE(storedHash(), QStringLiteral("1000"));
        QCOMPARE(login("demo@vernalo.local", "demo").status, 200);
        QCOMPARE(storedHash(), QStringLiteral("2000"));
    }

    void anonymousSessionsStayPrivate_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("apiKey");
        QTest::addColumn<int>("status");
        QTest::newRow("read with the same key") << QByteArray("GET") << "" << QByteArray() << 200;
        QTest::newRow("read with another key")
            << QByteArray("GET") << "" << QByteArray("extra-key") << 404;
        QTest::newRow("transcript with another key")
            << QByteArray("GET") << "/transcript" << QByteArray("extra-key") << 404;
        QTest::newRow("stop with another key")
            << QByteArray("POST") << "/stop" << QByteArray("extra-key") << 404;
        QTest::newRow("delete with another key")
            << QByteArray("DELETE") << "" << QByteArray("extra-key") << 404;
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
        const Headers headers {{"x-api-key", apiKey.isEmpty() ? sharedApiKey() : apiKey}};
        QCOMPARE(m_http->call(method, "/v1/sessions/" + id + suffix, {}, headers).status, status);
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
        QSignalSpy encrypted(&socket, &QSslSocket::encrypted);
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_server->port());
        QVERIFY(encrypted.wait(5000));
        const QByteArray body = sessionRequest();
        socket.write("POST /v1/sessions HTTP/1.1\r\nHost: 127.0.0.1:" +
                     QByteArray::number(m_server->port()) + "\r\nx-api-key: " + sharedApiKey() +
                     "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QByteArray answer;
        QSignalSpy readyRead(&socket, &QSslSocket::readyRead);
        while (!answer.contains("}") && readyRead.wait(5000))
            answer += socket.readAll();
        const QJsonObject created =
            QJsonDocument::fromJson(answer.mid(answer.indexOf("\r\n\r\n") + 4)).object();
        const QString wsUrl = created.value("wsUrl").toString();
        QVERIFY2(wsUrl.startsWith(QStringLiteral("wss://127.0.0.1:")), answer.constData());
        StreamPeer peer;
        peer.socket().setSslConfiguration(trust);
        QVERIFY(peer.open(wsUrl));
        peer.sendStart();
        QVERIFY(peer.waitForEvent("status"));
    }

    void caps_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("open sessions of one user") << "sessions";
        QTest::newRow("connections") << "connections";
        QTest::newRow("live streams") << "streams";
    }
    void caps()
    {
        QFETCH(QString, what);
        server::ServerOptions options;
        options.maxOpenSessionsPerUser = 2;
        options.maxConnections = what == "connections" ? 2 : 256;
        options.maxStreams = 1;
        start(options);
        if (what == "sessions") {
            for (int i = 0; i < 2; ++i)
                QCOMPARE(m_http->stt("POST", "/v1/sessions", sessionRequest()).status, 201);
            const HttpResult refused = m_http->stt("POST", "/v1/sessions", sessionRequest());
            QCOMPARE(refused.status, 429);
            QVERIFY(refused.json().value("error").toString().contains("enintään 2"));
        } else if (what == "connections") {
            QTcpSocket first;
            QTcpSocket second;
            for (QTcpSocket *socket : {&first, &second}) {
                QSignalSpy connected(socket, &QTcpSocket::connected);
                socket->connectToHost(QHostAddress::LocalHost, m_server->port());
                QVERIFY(connected.wait(5000));
            }
            const QByteArray answer = HttpCaller::rawExchange(
                m_server->port(), "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
            QVERIFY2(answer.startsWith("HTTP/1.1 503"), answer.constData());
        } else {
            QList<std::shared_ptr<StreamPeer>> peers;
            for (int i = 0; i < 2; ++i) {
                const QJsonObject created =
                    m_http->stt("POST", "/v1/sessions", sessionRequest()).json();
                peers.append(std::make_shared<StreamPeer>());
                QVERIFY(peers.last()->open(created.value("wsUrl").toString()));
            }
            QVERIFY(peers.last()->waitForClose());
            QCOMPARE(peers.last()->socket().closeCode(),
                     QWebSocketProtocol::CloseCodePolicyViolated);
            QCOMPARE(peers.last()->events("error").size(), 1);
            QCOMPARE(m_server->server().registry().liveStreamCount(), 1);
        }
    }
};

VERNALO_TEST_MAIN(ServerSafetyTest)
#include "test_server_safety.moc"
