#include "server_test_support.h"
#include "support/socket_wait.h"
#include "support/test_environment.h"

#include <QTcpServer>
#include <QtTest>

using namespace vernalo::test;

// The real server executable, killed, terminated and started again like a crash or a user would.
class ServerRestartTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    std::unique_ptr<ServerProcess> server(const QString &folder)
    {
        const QString script = m_dir.filePath(QStringLiteral("script.txt"));
        QFile file(script);
        if (file.open(QIODevice::WriteOnly))
            file.write("1 one two three four\n2 [B] five\n");
        return std::make_unique<ServerProcess>(
            QStringLiteral(VERNALO_SERVER_BINARY),
            QStringList {"--data", m_dir.filePath(folder), "--demo-user", "demo@vernalo.local:demo",
                         "--recognizer", "script", "--script", script});
    }

private Q_SLOTS:
    void killedServerKeepsUsersSessionsAndStream()
    {
        const auto server = this->server(QStringLiteral("crash"));
        QVERIFY(server->start());
        HttpCaller http(server->baseUrl());
        const QByteArray token = http.login("demo@vernalo.local", "demo");
        QVERIFY(!token.isEmpty());
        http.setAuthToken(token);
        const QJsonObject created = http.stt("POST", "/v1/sessions", sessionRequest()).json();
        const QString id = created.value("sessionId").toString();
        const QString wsUrl = created.value("wsUrl").toString();
        {
            StreamPeer peer;
            QVERIFY(peer.open(wsUrl));
            for (const QByteArray &chunk : speechChunks(1500))
                peer.sendBinary(chunk);
            QVERIFY(peer.waitForEvent("final"));
            server->kill();
            QVERIFY(peer.waitForClose());
        }

        QVERIFY(server->start());
        // The sign-in of before the crash is still valid, and so is the session.
        QCOMPARE(http.call("POST", "/auth/verify", {}, {{"Authorization", "Bearer " + token}}).status,
                 200);
        const QJsonObject meta = http.stt("GET", "/v1/sessions/" + id).json();
        QCOMPARE(meta.value("status").toString(), QStringLiteral("active"));
        QCOMPARE(meta.value("finalCount").toInteger(), 1);
        // The client reconnects to the URL it was given before the crash.
        StreamPeer again;
        QVERIFY(again.open(wsUrl));
        for (const QByteArray &chunk : speechChunks(1500))
            again.sendBinary(chunk);
        QVERIFY(again.waitForEvent("final"));
        QCOMPARE(again.events("final").at(0).value("text").toString(), QStringLiteral("five"));
        QCOMPARE(http.transcriptTexts(id).value_or(QStringList()),
                 (QStringList {"one two three four", "five"}));
    }

    void terminatedServerWritesItsCounters()
    {
        const auto server = this->server(QStringLiteral("graceful"));
        QVERIFY(server->start());
        HttpCaller http(server->baseUrl());
        const QJsonObject created = http.stt("POST", "/v1/sessions", sessionRequest()).json();
        const QString id = created.value("sessionId").toString();
        StreamPeer peer;
        QVERIFY(peer.open(created.value("wsUrl").toString()));
        for (const QByteArray &chunk : speechChunks(700, 0))
            peer.sendBinary(chunk);
        QVERIFY(waitUntil([&] { return http.sessionCount(id, "audioFrameCount") == 7; }));
        QCOMPARE(server->terminate(), 0);
        QVERIFY(peer.waitForClose());
        // Going away, not stopped: the client reconnects to a restarted server.
        QCOMPARE(peer.socket().closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
        QVERIFY(server->start());
        QCOMPARE(http.sessionCount(id, "audioBytes"), std::optional<qint64>(7 * 3200));
    }

    void startFailures_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("port taken") << QStringList {} << 1 << "cannot listen";
        QTest::newRow("script missing")
            << QStringList {"--script", "/nonexistent/script.txt"} << 2 << "cannot read script";
    }
    void startFailures()
    {
        QFETCH(QStringList, extra);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        const auto server = this->server(QStringLiteral("fail"));
        if (extra.isEmpty())
            server->setPort(occupant.serverPort());
        QString output;
        QVERIFY(!server->start(&output, extra));
        QCOMPARE(server->process().exitCode(), exitCode);
        QVERIFY2(output.contains(message), qPrintable(output));
    }
};

VERNALO_TEST_MAIN(ServerRestartTest)
#include "test_server_restart.moc"
