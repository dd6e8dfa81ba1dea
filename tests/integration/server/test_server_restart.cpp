#include "foundation/app_log.h"
#include "server_test_support.h"
#include "support/test_environment.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

using namespace vernalo::test;

namespace {

const QByteArray kScript = "1 one two three four\n2 [B] five\n";

// The real server executable, started and killed like a user or a crash would.
class ServerProcess
{
public:
    explicit ServerProcess(QString dataDir, QString scriptPath)
        : m_dataDir(std::move(dataDir))
        , m_scriptPath(std::move(scriptPath))
    { }
    ~ServerProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Waits for the "listening on" line; returns the port, 0 on failure.
    quint16 start(quint16 port, const QStringList &extra = {})
    {
        m_output.clear();
        m_process.start(QStringLiteral(VERNALO_SERVER_BINARY),
                        QStringList {"--port", QString::number(port), "--data", m_dataDir,
                                     "--demo-user", "demo@vernalo.local:demo", "--recognizer",
                                     "script", "--script", m_scriptPath} +
                            extra);
        static const QRegularExpression listening(
            QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)"));
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(100);
            m_output += m_process.readAllStandardOutput();
            const auto match = listening.match(QString::fromUtf8(m_output));
            if (match.hasMatch())
                return static_cast<quint16>(match.captured(1).toUInt());
        }
        return 0;
    }
    void crash()
    {
        m_process.kill(); // SIGKILL: no chance to flush anything
        m_process.waitForFinished(5000);
    }
    int stop()
    {
        m_process.terminate();
        m_process.waitForFinished(10000);
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    QProcess &process() { return m_process; }

private:
    QString m_dataDir;
    QString m_scriptPath;
    QProcess m_process;
    QByteArray m_output;
};

bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 5000)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

} // namespace

class ServerRestartTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_script;

private Q_SLOTS:
    void initTestCase()
    {
        m_script = m_dir.filePath(QStringLiteral("script.txt"));
        QFile file(m_script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kScript);
    }

    void killedServerKeepsUsersSessionsAndStream()
    {
        const QString data = m_dir.filePath(QStringLiteral("crash"));
        ServerProcess server(data, m_script);
        const quint16 port = server.start(0);
        QVERIFY(port != 0);
        HttpCaller http(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)));
        const QByteArray token =
            http.login(QStringLiteral("demo@vernalo.local"), QStringLiteral("demo"));
        QVERIFY(!token.isEmpty());
        const QJsonObject created =
            http.stt("POST", "/v1/sessions", sessionRequest(), token).json();
        const QString id = created.value("sessionId").toString();
        const QString wsUrl = created.value("wsUrl").toString();
        {
            StreamPeer peer;
            QVERIFY(peer.open(wsUrl));
            peer.sendStart();
            for (const QByteArray &chunk : speechChunks(1500))
                peer.sendBinary(chunk);
            QVERIFY(peer.waitForEvent("final"));
            server.crash();
            QVERIFY(peer.waitForClose());
        }

        QCOMPARE(server.start(port), port);
        // The sign-in of before the crash is still valid, and so is the session.
        QCOMPARE(
            http.call("POST", "/auth/verify", {}, {{"Authorization", "Bearer " + token}}).status,
            200);
        const QJsonObject meta = http.stt("GET", "/v1/sessions/" + id, {}, token).json();
        QCOMPARE(meta.value("status").toString(), QStringLiteral("active"));
        QCOMPARE(meta.value("finalCount").toInteger(), 1);
        QVERIFY(meta.value("audioFrameCount").toInteger() >= 10);

        // The client reconnects to the URL it was given before the crash.
        StreamPeer again;
        QVERIFY(again.open(wsUrl));
        again.sendStart();
        QVERIFY(again.waitForEvent("status"));
        QCOMPARE(again.events("status").at(0).value("state").toString(),
                 QStringLiteral("listening"));
        for (const QByteArray &chunk : speechChunks(1500))
            again.sendBinary(chunk);
        QVERIFY(again.waitForEvent("final"));
        QCOMPARE(again.events("final").at(0).value("text").toString(), QStringLiteral("five"));
        const QJsonArray segments = http.stt("GET", "/v1/sessions/" + id + "/transcript", {}, token)
                                        .json()
                                        .value("segments")
                                        .toArray();
        QCOMPARE(segments.size(), 2);
        QCOMPARE(segments.at(0).toObject().value("text").toString(),
                 QStringLiteral("one two three four"));
        QCOMPARE(segments.at(1).toObject().value("speakerLabel").toString(), QStringLiteral("B"));
    }

    void terminatedServerWritesItsCounters()
    {
        const QString data = m_dir.filePath(QStringLiteral("graceful"));
        ServerProcess server(data, m_script);
        const quint16 port = server.start(0);
        QVERIFY(port != 0);
        HttpCaller http(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)));
        const QJsonObject created = http.stt("POST", "/v1/sessions", sessionRequest()).json();
        const QString id = created.value("sessionId").toString();
        StreamPeer peer;
        QVERIFY(peer.open(created.value("wsUrl").toString()));
        for (const QByteArray &chunk : speechChunks(700, 0))
            peer.sendBinary(chunk);
        QVERIFY(waitUntil([&] {
            return http.stt("GET", "/v1/sessions/" + id)
                       .json()
                       .value("audioFrameCount")
                       .toInteger() == 7;
        }));
        QCOMPARE(server.stop(), 0);
        QVERIFY(peer.waitForClose());
        // Going away, not stopped: the client reconnects to a restarted server.
        QCOMPARE(peer.socket().closeCode(), QWebSocketProtocol::CloseCodeGoingAway);

        QCOMPARE(server.start(port), port);
        const QJsonObject meta = http.stt("GET", "/v1/sessions/" + id).json();
        QCOMPARE(meta.value("audioFrameCount").toInteger(), 7);
        QCOMPARE(meta.value("audioBytes").toInteger(), 7 * 3200);
        QCOMPARE(meta.value("status").toString(), QStringLiteral("active"));
    }

    // The server's lines go to its own file, server.log in the data folder unless --log-file
    // names another, and never into the client's log of the same user.
    void logsToItsOwnFile_data()
    {
        QTest::addColumn<bool>("logOption");
        QTest::newRow("default in the data folder") << false;
        QTest::newRow("--log-file") << true;
    }
    void logsToItsOwnFile()
    {
        QFETCH(bool, logOption);
        const QString data = m_dir.filePath(logOption ? "log-option" : "log-default");
        const QString logFile = logOption ? m_dir.filePath(QStringLiteral("elsewhere/own.log"))
                                          : data + QStringLiteral("/server.log");
        ServerProcess server(data, m_script);
        const quint16 port =
            server.start(0, logOption ? QStringList {"--log-file", logFile} : QStringList {});
        QVERIFY(port != 0);
        HttpCaller http(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)));
        QVERIFY(
            !http.login(QStringLiteral("demo@vernalo.local"), QStringLiteral("demo")).isEmpty());
        QCOMPARE(server.stop(), 0);

        QFile file(logFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray log = file.readAll();
        QVERIFY2(log.contains("server listening url=http://127.0.0.1:" + QByteArray::number(port)),
                 log.constData());
        QVERIFY2(log.contains("server login user="), log.constData());
        QCOMPARE(QFile::exists(data + QStringLiteral("/server.log")), !logOption);
        vernalo::AppLog::flush();
        QFile clientLog(vernalo::AppLog::currentLogURL());
        const QByteArray clientText =
            clientLog.open(QIODevice::ReadOnly) ? clientLog.readAll() : QByteArray();
        QVERIFY(!clientText.contains("server listening") && !clientText.contains("server login"));
    }

    void startFailures_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<bool>("occupyPort");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("port taken") << QStringList {} << true << 1 << "cannot listen";
        QTest::newRow("script missing") << QStringList {"--script", "/nonexistent/script.txt"}
                                        << false << 2 << "cannot read script";
        QTest::newRow("bad option") << QStringList {"--demo-user", "nobody"} << false << 2
                                    << "--demo-user needs EMAIL:PASSWORD";
    }
    void startFailures()
    {
        QFETCH(QStringList, extra);
        QFETCH(bool, occupyPort);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        ServerProcess server(m_dir.filePath(QStringLiteral("fail")), m_script);
        QCOMPARE(server.start(occupyPort ? occupant.serverPort() : 0, extra), quint16(0));
        server.process().waitForFinished(5000);
        QCOMPARE(server.process().exitCode(), exitCode);
        const QString stderrText = QString::fromUtf8(server.process().readAllStandardError());
        QVERIFY2(stderrText.contains(message), qPrintable(stderrText));
    }
};

VERNALO_TEST_MAIN(ServerRestartTest)
#include "test_server_restart.moc"
