#include "server_test_support.h"
#include "session_registry.h"
#include "support/socket_wait.h"
#include "support/test_environment.h"
#include "wire/json_fields.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>
#include <QUrlQuery>

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
    QString m_id;
    QString m_wsUrl;

    void startServer(server::ServerOptions options = {})
    {
        m_server = std::make_unique<InProcessServer>(kScript, options);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_http = std::make_unique<HttpCaller>(m_server->baseUrl());
    }
    void createSession(const QByteArray &token = {})
    {
        const QJsonObject created =
            m_http->stt("POST", "/v1/sessions", sessionRequest(), token).json();
        m_id = created.value("sessionId").toString();
        m_wsUrl = created.value("wsUrl").toString();
    }
    QJsonObject meta() { return m_http->stt("GET", "/v1/sessions/" + m_id).json(); }
    qint64 frames() const
    {
        const auto session = m_server->server().registry().find(m_id);
        return session ? session->audioFrameCount : -1;
    }
    // Sends the chunks one by one, each seen by the server before the fake clock moves the 100 ms
    // real capture would take, so the server dates finals by their audio.
    bool stream(StreamPeer &peer, const QList<QByteArray> &chunks, bool base64 = false)
    {
        for (const QByteArray &chunk : chunks) {
            const qint64 before = frames();
            base64 ? peer.sendBase64(chunk) : peer.sendBinary(chunk);
            if (!waitUntil([&] { return frames() > before; }, 5000))
                return false;
            m_server->clock().advance(100ms);
        }
        return true;
    }

private Q_SLOTS:
    void init()
    {
        startServer();
        createSession();
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
        const QDateTime streamStart = m_server->clock().now();
        StreamPeer peer;
        QVERIFY(peer.open(m_wsUrl));
        peer.sendStart();
        QVERIFY(peer.waitForEvent("status"));
        QCOMPARE(peer.events("status").at(0).value("state").toString(),
                 QStringLiteral("listening"));
        QCOMPARE(peer.events("status").at(0).value("sttModel").toString(),
                 QStringLiteral("script"));

        QVERIFY(stream(peer, speechChunks(3500), base64));
        QVERIFY(peer.waitForEvent("error") && peer.waitForEvent("final", 2));
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
        const QJsonArray segments = m_http->stt("GET", "/v1/sessions/" + m_id + "/transcript")
                                        .json()
                                        .value("segments")
                                        .toArray();
        QCOMPARE(segments.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(segments.at(i).toObject().value("text"), finals.at(i).value("text"));
            QCOMPARE(segments.at(i).toObject().value("ts"), finals.at(i).value("ts"));
        }
        const QJsonObject m = meta();
        QCOMPARE(m.value("audioBytes").toInteger(), 35 * 3200);
        QCOMPARE(m.value("finalCount").toInteger(), 2);
        QCOMPARE(m.value("interimCount").toInteger(), 1);
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
        StreamPeer peer;
        QVERIFY(peer.open(m_wsUrl));
        peer.socket().sendTextMessage(message);
        QVERIFY(peer.waitForEvent("error"));
        QCOMPARE(peer.events("error").at(0).value("message").toString(), error);
        QVERIFY(stream(peer, speechChunks(1000)));
        QVERIFY(peer.waitForEvent("final"));
    }

    void refusedConnections_data()
    {
        QTest::addColumn<QString>("mangle"); // how the handed-out URL (or the start) is changed
        QTest::addColumn<int>("closeCode");
        const int policy = QWebSocketProtocol::CloseCodePolicyViolated;
        QTest::newRow("wrong token") << "token" << policy;
        QTest::newRow("no token") << "notoken" << policy;
        QTest::newRow("unknown session") << "session" << policy;
        QTest::newRow("start at 8 kHz")
            << "rate" << int(QWebSocketProtocol::CloseCodeDatatypeNotSupported);
    }
    void refusedConnections()
    {
        QFETCH(QString, mangle);
        QFETCH(int, closeCode);
        QUrl url(m_wsUrl);
        const QString token = QUrlQuery(url).queryItemValue("token");
        if (mangle == "token") // the last character changed to one it surely is not
            url.setQuery("token=" + token.chopped(1) +
                         QLatin1Char(token.back() == QLatin1Char('A') ? 'B' : 'A'));
        else if (mangle == "notoken")
            url.setQuery(QString());
        else if (mangle == "session")
            url.setPath("/v1/stream/" + QUuid::createUuid().toString(QUuid::WithoutBraces));
        StreamPeer peer;
        QVERIFY(peer.open(url.toString()));
        if (mangle == "rate")
            peer.socket().sendTextMessage(QStringLiteral(
                "{\"type\":\"start\",\"language\":\"en-US\",\"sampleRate\":8000,\"enableInterim\":"
                "true,\"sttModel\":\"x\",\"enableSpeakerDiarization\":false,\"speakerCount\":0}"));
        QVERIFY(peer.waitForClose());
        QCOMPARE(int(peer.socket().closeCode()), closeCode);
        QCOMPARE(peer.events("error").size(), 1);
        if (mangle != "rate")
            QCOMPARE(meta().value("status").toString(), QStringLiteral("created"));
    }

    void restStopEndsTheLiveStream()
    {
        StreamPeer peer;
        QVERIFY(peer.open(m_wsUrl));
        QVERIFY(stream(peer, speechChunks(1200)));
        QVERIFY(peer.waitForEvent("final"));
        QCOMPARE(m_http->stt("POST", "/v1/sessions/" + m_id + "/stop").status, 200);
        QVERIFY(peer.waitForClose());
        QCOMPARE(peer.allEvents().last().value("state").toString(), QStringLiteral("stopped"));
        QCOMPARE(peer.socket().closeCode(), QWebSocketProtocol::CloseCodeNormal);
        QCOMPARE(meta().value("status").toString(), QStringLiteral("stopped"));
        QCOMPARE(meta().value("endedAt").toString(), toIso8601(m_server->clock().now()));
        // The URL of a stopped session only says so.
        StreamPeer late;
        QVERIFY(late.open(m_wsUrl));
        QVERIFY(late.waitForClose());
        QCOMPARE(late.events("status").size(), 1);
        QCOMPARE(late.events("status").at(0).value("state").toString(), QStringLiteral("stopped"));
    }

    // A reopened stream that names its audio's place may send the last chunks again (the
    // client cannot know they arrived): the server keeps each second of audio once.
    void reconnectContinuesWithoutRepeats_data()
    {
        QTest::addColumn<int>("resentChunks");
        QTest::addColumn<bool>("restart");
        QTest::newRow("new audio only") << 0 << false;
        QTest::newRow("last 0.5 s sent again with its offset") << 5 << false;
        // The 0.5 s after the last final lived only in the old process's recognizer.
        QTest::newRow("server restarted, last 0.5 s sent again") << 5 << true;
    }
    void reconnectContinuesWithoutRepeats()
    {
        QFETCH(int, resentChunks);
        QFETCH(bool, restart);
        auto first = std::make_unique<StreamPeer>();
        QVERIFY(first->open(m_wsUrl));
        QVERIFY(stream(*first, speechChunks(1500)));
        QVERIFY(first->waitForEvent("final"));
        if (restart) {
            QString error;
            QVERIFY2(m_server->restart(&error), qPrintable(error));
            // Held after a restart: the audio up to the last final, not all that arrived.
            QCOMPARE(meta().value("audioBytes").toInteger(), 10 * 3200);
        }
        // A second connection to the same URL takes over; the first is let go.
        StreamPeer second;
        QVERIFY(second.open(m_wsUrl));
        QVERIFY(first->waitForClose());
        QCOMPARE(first->socket().closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
        if (resentChunks > 0)
            second.sendStart(QStringLiteral("en-US"), (15 - resentChunks) * 3200);
        const QList<QByteArray> chunks = speechChunks(1000 + 100 * resentChunks);
        // Repeated chunks are not counted, so only the new ones are awaited.
        for (const QByteArray &chunk : chunks.mid(0, resentChunks))
            second.sendBinary(chunk);
        QVERIFY(stream(second, chunks.mid(resentChunks)));
        QVERIFY(second.waitForEvent("final"));
        QCOMPARE(second.events("final").size(), 1);
        QCOMPARE(second.events("final").at(0).value("text").toString(), QStringLiteral("five"));
        QCOMPARE(meta().value("finalCount").toInteger(), 2);
        QCOMPARE(frames(), 25);
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
        StreamPeer peer;
        QVERIFY(peer.open(m_wsUrl));
        peer.sendStart();
        QVERIFY(peer.waitForEvent("status"));
        {
            // A second connection to the server's file makes the write fail, as a full disk would.
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "fault");
            db.setDatabaseName(m_server->options().dataDir + "/reference-server.sqlite");
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec("CREATE TRIGGER fail BEFORE " + failing +
                                       " BEGIN SELECT RAISE(ABORT, 'disk'); END"));
        }
        QSqlDatabase::removeDatabase("fault");
        for (const QByteArray &chunk : speechChunks(1200))
            peer.sendBinary(chunk);
        QVERIFY(peer.waitForEvent("error"));
        QVERIFY(peer.events("final").isEmpty());
        QCOMPARE(m_server->server().sessions().segments(m_id).size(), 0);
    }

    // A session whose stream is gone is ended 10 minutes after the last sign of life, also
    // across a server restart; a live stream keeps it open however long it lasts.
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
        if (streamFirst) {
            StreamPeer peer;
            QVERIFY(peer.open(m_wsUrl));
            QVERIFY(stream(peer, speechChunks(1200)));
            QVERIFY(peer.waitForEvent("final"));
            peer.socket().abort();
            QVERIFY(
                waitUntil([&] { return m_server->server().registry().liveStreamCount() == 0; }));
        }
        // Whole seconds, as the metadata reports times.
        const QDateTime goneAt = *fromIso8601(toIso8601(m_server->clock().now()));
        if (restartBetween) {
            QString error;
            QVERIFY2(m_server->restart(&error), qPrintable(error));
            m_http->setBase(m_server->baseUrl());
        }
        m_server->clock().advance(9min + 40s);
        QVERIFY(meta().value("status").toString() != QLatin1String("stopped"));
        m_server->clock().advance(40s);
        QCOMPARE(meta().value("status").toString(), QStringLiteral("stopped"));
        const QDateTime endedAt = *fromIso8601(meta().value("endedAt").toString());
        QVERIFY2(endedAt >= goneAt.addSecs(600) && endedAt <= goneAt.addSecs(620),
                 qPrintable(toIso8601(goneAt) + QLatin1Char(' ') + toIso8601(endedAt)));
        QCOMPARE(meta().value("finalCount").toInteger(), streamFirst ? 1 : 0);
    }

    // A stream without audio for two minutes is closed as gone, and its session then abandoned.
    void silentConnectionIsDropped()
    {
        StreamPeer peer;
        QVERIFY(peer.open(m_wsUrl));
        m_server->clock().advance(2min + 15s);
        QVERIFY(peer.waitForClose());
        QCOMPARE(peer.socket().closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
        m_server->clock().advance(server::SessionRegistry::kAbandonAfter + 15s);
        QCOMPARE(meta().value("status").toString(), QStringLiteral("stopped"));
    }
};

VERNALO_TEST_MAIN(ServerStreamTest)
#include "test_server_stream.moc"
