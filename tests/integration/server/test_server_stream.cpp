#include "server_test_support.h"
#include "session_registry.h"
#include "support/test_environment.h"
#include "wire/json_fields.h"

#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

// Finals at 1 s and 2 s of audio, an engine error at 3 s.
const QString kScript = QStringLiteral("1 one two three four\n2 [B] five\n3 !error boom\n");

} // namespace

class ServerStreamTest : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<InProcessServer> m_server;
    std::unique_ptr<HttpCaller> m_http;

    QJsonObject createSession()
    {
        return m_http->stt("POST", "/v1/sessions", sessionRequest()).json();
    }
    QJsonObject meta(const QString &id) { return m_http->stt("GET", "/v1/sessions/" + id).json(); }
    QJsonArray transcript(const QString &id)
    {
        return m_http->stt("GET", "/v1/sessions/" + id + "/transcript")
            .json()
            .value("segments")
            .toArray();
    }
    // Sends the chunks one by one, moving the fake clock 100 ms per chunk as real capture would.
    // With a session id, each chunk is first seen by the server (so its arrival time is known).
    void stream(StreamPeer &peer, const QList<QByteArray> &chunks, bool base64 = false,
                const QString &pacedSession = QString())
    {
        qint64 sent =
            pacedSession.isEmpty() ? 0 : meta(pacedSession).value("audioFrameCount").toInteger();
        for (const QByteArray &chunk : chunks) {
            base64 ? peer.sendBase64(chunk) : peer.sendBinary(chunk);
            if (!pacedSession.isEmpty())
                QVERIFY(waitForMeta(pacedSession, "audioFrameCount", ++sent));
            m_server->clock().advance(100ms);
        }
    }
    bool waitForMeta(const QString &id, const char *key, qint64 value)
    {
        QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            if (meta(id).value(QLatin1String(key)).toInteger() == value)
                return true;
            QTest::qWait(20);
        }
        return false;
    }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<InProcessServer>(kScript);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_http = std::make_unique<HttpCaller>(m_server->baseUrl());
    }
    void cleanup()
    {
        m_http.reset();
        m_server.reset();
    }

    void finalsOverLiveStream_data()
    {
        QTest::addColumn<bool>("base64");
        QTest::newRow("binary frames") << false;
        QTest::newRow("Base64 JSON frames") << true;
    }
    void finalsOverLiveStream()
    {
        QFETCH(bool, base64);
        const QJsonObject created = createSession();
        const QString id = created.value("sessionId").toString();
        const QDateTime streamStart = m_server->clock().now();
        StreamPeer peer;
        QVERIFY(peer.open(created.value("wsUrl").toString()));
        peer.sendStart();
        QVERIFY(peer.waitForEvent("status"));
        QCOMPARE(peer.events("status").at(0).value("state").toString(),
                 QStringLiteral("listening"));
        QCOMPARE(peer.events("status").at(0).value("sttModel").toString(),
                 QStringLiteral("script"));

        stream(peer, speechChunks(3500), base64, id);
        QVERIFY(peer.waitForEvent("error"));
        QVERIFY(peer.waitForEvent("final", 2));
        QCOMPARE(peer.events("partial").size(), 1);
        QCOMPARE(peer.events("partial").at(0).value("text").toString(), QStringLiteral("one two"));
        const QList<QJsonObject> finals = peer.events("final");
        QCOMPARE(finals.at(0).value("text").toString(), QStringLiteral("one two three four"));
        QVERIFY(!finals.at(0).contains("speakerLabel"));
        QCOMPARE(finals.at(1).value("speakerLabel").toString(), QStringLiteral("B"));
        // Dated by when the audio was spoken: the chunk that held the utterance start.
        QCOMPARE(finals.at(0).value("ts").toString(), toIso8601(streamStart));
        QCOMPARE(finals.at(1).value("ts").toString(), toIso8601(streamStart.addSecs(1)));
        QCOMPARE(peer.events("error").at(0).value("message").toString(), QStringLiteral("boom"));

        // The REST transcript holds exactly what the stream delivered, with the same times.
        const QJsonArray segments = transcript(id);
        QCOMPARE(segments.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(segments.at(i).toObject().value("text"), finals.at(i).value("text"));
            QCOMPARE(segments.at(i).toObject().value("ts"), finals.at(i).value("ts"));
        }
        const QJsonObject m = meta(id);
        QCOMPARE(m.value("status").toString(), QStringLiteral("active"));
        QCOMPARE(m.value("audioFrameCount").toInteger(), 35);
        QCOMPARE(m.value("audioBytes").toInteger(), 35 * 3200);
        QCOMPARE(m.value("finalCount").toInteger(), 2);
        QCOMPARE(m.value("interimCount").toInteger(), 1);
        QCOMPARE(m.value("segmentCount").toInteger(), 2);
        QVERIFY(qAbs(m.value("avgAudioLevel").toDouble() - 3000.0 / 32768.0) < 1e-6);
        QVERIFY(qAbs(m.value("peakAudioLevel").toDouble() - 3000.0 / 32768.0) < 1e-6);
        QCOMPARE(m.value("lastSttError").toObject().value("message").toString(),
                 QStringLiteral("boom"));
    }

    void badMessagesKeepTheStream_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("error");
        QTest::newRow("not JSON") << "hello"
                                  << "Virheellinen JSON-viesti";
        QTest::newRow("no type") << "{\"text\":1}"
                                 << "Viestistä puuttuu tyyppi";
        QTest::newRow("unknown type") << "{\"type\":\"pause\"}"
                                      << "Tuntematon viestityyppi: pause";
        QTest::newRow("broken Base64") << "{\"type\":\"audio\",\"audioBase64\":\"@@@\"}"
                                       << "Virheellinen audioBase64";
        QTest::newRow("start without its fields") << "{\"type\":\"start\"}"
                                                  << "Virheellinen aloitusviesti";
    }
    void badMessagesKeepTheStream()
    {
        QFETCH(QString, message);
        QFETCH(QString, error);
        const QJsonObject created = createSession();
        StreamPeer peer;
        QVERIFY(peer.open(created.value("wsUrl").toString()));
        peer.socket().sendTextMessage(message);
        QVERIFY(peer.waitForEvent("error"));
        QCOMPARE(peer.events("error").at(0).value("message").toString(), error);
        stream(peer, speechChunks(1000));
        QVERIFY(peer.waitForEvent("final"));
    }

    void refusedConnections_data()
    {
        QTest::addColumn<QString>("mangle"); // how the handed-out URL is changed
        QTest::newRow("wrong token") << "token";
        QTest::newRow("no token") << "notoken";
        QTest::newRow("unknown session") << "session";
    }
    void refusedConnections()
    {
        QFETCH(QString, mangle);
        const QJsonObject created = createSession();
        QUrl url(created.value("wsUrl").toString());
        if (mangle == QLatin1String("token")) {
            // Change the last character to one it surely is not.
            const QString token = created.value("token").toString();
            const QChar last =
                token.back() == QLatin1Char('A') ? QLatin1Char('B') : QLatin1Char('A');
            url.setQuery(QStringLiteral("token=") + token.chopped(1) + last);
        } else if (mangle == QLatin1String("notoken"))
            url.setQuery(QString());
        else
            url.setPath(QStringLiteral("/v1/stream/") +
                        QUuid::createUuid().toString(QUuid::WithoutBraces));
        StreamPeer peer;
        QVERIFY(peer.open(url.toString()));
        QVERIFY(peer.waitForClose());
        QCOMPARE(peer.socket().closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
        QCOMPARE(peer.events("error").size(), 1);
        QCOMPARE(meta(created.value("sessionId").toString()).value("status").toString(),
                 QStringLiteral("created"));
    }

    void restStopEndsTheLiveStream()
    {
        const QJsonObject created = createSession();
        const QString id = created.value("sessionId").toString();
        StreamPeer peer;
        QVERIFY(peer.open(created.value("wsUrl").toString()));
        stream(peer, speechChunks(1200));
        QVERIFY(peer.waitForEvent("final"));
        QCOMPARE(m_http->stt("POST", "/v1/sessions/" + id + "/stop").status, 200);
        QVERIFY(peer.waitForClose());
        QCOMPARE(peer.allEvents().last().value("state").toString(), QStringLiteral("stopped"));
        QCOMPARE(peer.socket().closeCode(), QWebSocketProtocol::CloseCodeNormal);
        const QJsonObject m = meta(id);
        QCOMPARE(m.value("status").toString(), QStringLiteral("stopped"));
        QCOMPARE(m.value("endedAt").toString(), toIso8601(m_server->clock().now()));
        QCOMPARE(m.value("audioFrameCount").toInteger(), 12);

        // The URL of a stopped session only says so.
        StreamPeer late;
        QVERIFY(late.open(created.value("wsUrl").toString()));
        QVERIFY(late.waitForClose());
        QCOMPARE(late.events("status").size(), 1);
        QCOMPARE(late.events("status").at(0).value("state").toString(), QStringLiteral("stopped"));
        QCOMPARE(transcript(id).size(), 1);
    }

    // A reopened stream that names its audio's place may send the last chunks again (the
    // client cannot know they arrived): the server keeps each second of audio once.
    void reconnectContinuesWithoutRepeats_data()
    {
        QTest::addColumn<int>("resentChunks");
        QTest::newRow("new audio only") << 0;
        QTest::newRow("last 0.5 s sent again with its offset") << 5;
    }
    void reconnectContinuesWithoutRepeats()
    {
        QFETCH(int, resentChunks);
        const QJsonObject created = createSession();
        const QString id = created.value("sessionId").toString();
        auto first = std::make_unique<StreamPeer>();
        QVERIFY(first->open(created.value("wsUrl").toString()));
        stream(*first, speechChunks(1500));
        QVERIFY(first->waitForEvent("final"));
        QVERIFY(waitForMeta(id, "audioFrameCount", 15));

        // A second connection to the same URL takes over; the first is let go.
        StreamPeer second;
        QVERIFY(second.open(created.value("wsUrl").toString()));
        QVERIFY(first->waitForClose());
        QCOMPARE(first->socket().closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
        if (resentChunks > 0)
            second.sendStart(QStringLiteral("en-US"), (15 - resentChunks) * 3200);
        stream(second, speechChunks(1000 + 100 * resentChunks));
        QVERIFY(second.waitForEvent("final"));
        QCOMPARE(second.events("final").at(0).value("text").toString(), QStringLiteral("five"));
        QVERIFY(second.events("final").size() == 1);
        QCOMPARE(transcript(id).size(), 2);
        QCOMPARE(meta(id).value("audioFrameCount").toInteger(), 25);
    }

    void streamStopTakesNoMoreAudio()
    {
        const QJsonObject created = createSession();
        const QString id = created.value("sessionId").toString();
        StreamPeer peer;
        QVERIFY(peer.open(created.value("wsUrl").toString()));
        stream(peer, speechChunks(500));
        peer.sendStop();
        stream(peer, speechChunks(2000));
        peer.sendStart(); // answered, so the socket has delivered everything before it
        QVERIFY(peer.waitForEvent("status"));
        QCOMPARE(meta(id).value("audioFrameCount").toInteger(), 5);
        QVERIFY(peer.events("final").isEmpty());
        QCOMPARE(meta(id).value("status").toString(), QStringLiteral("active"));
    }

    void finalIsSentOnlyOnceStored_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::newRow("segment insert fails") << "INSERT ON segments";
        QTest::newRow("counter update fails") << "UPDATE ON sessions";
    }
    void finalIsSentOnlyOnceStored()
    {
        QFETCH(QString, failing);
        const QJsonObject created = createSession();
        const QString id = created.value("sessionId").toString();
        StreamPeer peer;
        QVERIFY(peer.open(created.value("wsUrl").toString()));
        peer.sendStart();
        QVERIFY(peer.waitForEvent("status"));
        {
            // A second connection to the server's file makes the write fail, as a full disk would.
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "fault");
            db.setDatabaseName(m_server->options().dataDir + "/reference-server.sqlite");
            QVERIFY(db.open());
            QSqlQuery query(db);
            QVERIFY(query.exec("CREATE TRIGGER fail BEFORE " + failing +
                               " BEGIN SELECT RAISE(ABORT, 'disk'); END"));
        }
        QSqlDatabase::removeDatabase("fault");
        stream(peer, speechChunks(1200));
        QVERIFY(peer.waitForEvent("error"));
        QVERIFY(peer.events("final").isEmpty());
        QCOMPARE(m_server->server().sessions().segments(id).size(), 0);
    }

    void blockedUserLosesStreams_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::newRow("disabled") << QByteArray("POST") << "/admin/users/1/disable";
        QTest::newRow("deleted") << QByteArray("DELETE") << "/admin/users/1";
    }
    void blockedUserLosesStreams()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        server::ServerOptions options;
        options.demoUsers = {{QStringLiteral("demo@vernalo.local"), QStringLiteral("demo")}};
        options.adminKey = QStringLiteral("admin-secret");
        m_server = std::make_unique<InProcessServer>(kScript, options);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_http->setBase(m_server->baseUrl());
        const QByteArray token = m_http->login("demo@vernalo.local", "demo");
        const QJsonObject created =
            m_http->stt("POST", "/v1/sessions", sessionRequest(), token).json();
        const QString wsUrl = created.value("wsUrl").toString();
        StreamPeer peer;
        QVERIFY(peer.open(wsUrl));
        peer.sendStart();
        QVERIFY(peer.waitForEvent("status"));

        QCOMPARE(m_http->call(method, path, {}, {{"X-Admin-Key", "admin-secret"}}).status, 200);
        QVERIFY(peer.waitForClose());
        // The stream token no longer opens anything.
        StreamPeer again;
        QVERIFY(again.open(wsUrl));
        QVERIFY(again.waitForClose());
        QCOMPARE(again.events("error").size(), 1);
        const bool kept = method == "POST";
        QCOMPARE(
            m_server->server().sessions().find(created.value("sessionId").toString()).has_value(),
            kept);
    }

    void wrongSampleRateIsRefused()
    {
        const QJsonObject created = createSession();
        StreamPeer peer;
        QVERIFY(peer.open(created.value("wsUrl").toString()));
        peer.socket().sendTextMessage(QStringLiteral(
            "{\"type\":\"start\",\"language\":\"en-US\",\"sampleRate\":8000,\"enableInterim\":true,"
            "\"sttModel\":\"x\",\"enableSpeakerDiarization\":false,\"speakerCount\":0}"));
        QVERIFY(peer.waitForClose());
        QCOMPARE(peer.events("error").size(), 1);
        QCOMPARE(peer.socket().closeCode(), QWebSocketProtocol::CloseCodeDatatypeNotSupported);
    }

    void abandonedStreamEndsSession_data()
    {
        QTest::addColumn<bool>("streamFirst");
        QTest::addColumn<bool>("restartBetween");
        QTest::newRow("created, never streamed") << false << false;
        QTest::newRow("streamed, then the client vanished") << true << false;
        QTest::newRow("streamed, vanished, server restarted") << true << true;
    }
    void abandonedStreamEndsSession()
    {
        QFETCH(bool, streamFirst);
        QFETCH(bool, restartBetween);
        const QJsonObject created = createSession();
        const QString id = created.value("sessionId").toString();
        if (streamFirst) {
            StreamPeer peer;
            QVERIFY(peer.open(created.value("wsUrl").toString()));
            stream(peer, speechChunks(1200));
            QVERIFY(peer.waitForEvent("final"));
            peer.socket().abort();
            QVERIFY(QTest::qWaitFor(
                [&] { return m_server->server().registry().liveStreamCount() == 0; }, 5000));
        }
        // Whole seconds, as the metadata reports times.
        const QDateTime goneAt = *fromIso8601(toIso8601(m_server->clock().now()));
        if (restartBetween) {
            QString error;
            QVERIFY2(m_server->restart(&error), qPrintable(error));
            m_http->setBase(m_server->baseUrl());
        }
        m_server->clock().advance(9min + 40s);
        QVERIFY(meta(id).value("status").toString() != QLatin1String("stopped"));
        m_server->clock().advance(40s);
        const QJsonObject m = meta(id);
        QCOMPARE(m.value("status").toString(), QStringLiteral("stopped"));
        const QDateTime endedAt = *fromIso8601(m.value("endedAt").toString());
        QVERIFY2(endedAt >= goneAt.addSecs(600) && endedAt <= goneAt.addSecs(620),
                 qPrintable(toIso8601(goneAt) + QLatin1Char(' ') + toIso8601(endedAt)));
        QCOMPARE(transcript(id).size(), streamFirst ? 1 : 0);
    }

    void liveStreamIsNotAbandoned()
    {
        const QJsonObject created = createSession();
        const QString id = created.value("sessionId").toString();
        StreamPeer peer;
        QVERIFY(peer.open(created.value("wsUrl").toString()));
        for (int minute = 1; minute <= 12; ++minute) {
            peer.sendBinary(speechChunks(100).first());
            QVERIFY(waitForMeta(id, "audioFrameCount", minute));
            m_server->clock().advance(1min);
        }
        QCOMPARE(meta(id).value("status").toString(), QStringLiteral("active"));
        QCOMPARE(peer.socket().state(), QAbstractSocket::ConnectedState);
    }

    void silentConnectionIsDropped()
    {
        const QJsonObject created = createSession();
        const QString id = created.value("sessionId").toString();
        StreamPeer peer;
        QVERIFY(peer.open(created.value("wsUrl").toString()));
        m_server->clock().advance(
            std::chrono::seconds(server::ServerOptions {}.streamIdleTimeoutSeconds) + 15s);
        QVERIFY(peer.waitForClose());
        QCOMPARE(peer.socket().closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
        m_server->clock().advance(server::SessionRegistry::kAbandonAfter + 15s);
        QCOMPARE(meta(id).value("status").toString(), QStringLiteral("stopped"));
    }
};

VERNALO_TEST_MAIN(ServerStreamTest)
#include "test_server_stream.moc"
