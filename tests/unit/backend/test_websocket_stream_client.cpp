#include "stream_client_fixture.h"
#include "support/test_environment.h"
#include "wire/stream_event.h"
#include "wire/stream_messages.h"

#include <QScopeGuard>
#include <QSignalSpy>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

class WebSocketStreamClientTest : public QObject, public StreamClientFixture
{
    Q_OBJECT
private Q_SLOTS:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // The start message opens the stream; chunks handed over before the handshake completes
    // follow it, in order.
    void startMessageOpensTheStream()
    {
        connectClient(QStringLiteral("/v1/sessions/s1/stream?token=ws-tok%2B1"));
        for (int i = 0; i < 3; ++i)
            m_client->sendAudio(chunk(i));
        QVERIFY(waitFrames(4));
        const StreamConnection &connection = m_peer->connection();
        QCOMPARE(connection.requestUrl.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority),
                 "/v1/sessions/s1/stream?token=ws-tok%2B1"_qba);
        QCOMPARE(connection.frames.constFirst().data, kStart);
        QCOMPARE(pattern(connection.frames), QStringLiteral("SBBB"));
        for (int i = 0; i < 3; ++i)
            QVERIFY(connection.frames.at(i + 1).data == chunk(i));
    }

    void startRepeat_data()
    {
        QTest::addColumn<QByteArray>("serverFrame"); // sent before the audio; empty for none
        QTest::addColumn<QList<int>>("audioAtMs");
        QTest::addColumn<QString>("frames");

        // clang-format off
        QTest::newRow("unconfirmed: at most every 0.8 s") << QByteArray() << QList<int> {0, 500, 800, 1000, 1600} << "SBBSBBSB";
        QTest::newRow("unconfirmed: 799 ms is too early") << QByteArray() << QList<int> {799, 1598} << "SBSB";
        QTest::newRow("status confirms") << R"({"type":"status","state":"live"})"_qba << QList<int> {800, 1600, 5000} << "SBBB";
        QTest::newRow("partial confirms") << R"({"type":"partial","text":"he"})"_qba << QList<int> {800, 1600} << "SBB";
        QTest::newRow("final confirms") << R"({"type":"final","text":"hei"})"_qba << QList<int> {800, 1600} << "SBB";
        QTest::newRow("error does not confirm") << R"({"type":"error","message":"x"})"_qba << QList<int> {800, 1600} << "SSBSB";
        QTest::newRow("unknown message does not confirm") << R"({"type":"ready"})"_qba << QList<int> {800} << "SSB";
        // clang-format on
    }
    void startRepeat()
    {
        QFETCH(QByteArray, serverFrame);
        QFETCH(QList<int>, audioAtMs);
        QFETCH(QString, frames);

        QVERIFY(open());
        if (!serverFrame.isEmpty()) {
            m_peer->sendText(serverFrame);
            // A sentinel that is never confirming shows that the frame before it was handled.
            m_peer->sendText(R"({"type":"error","message":"sentinel"})");
            QVERIFY(waitUntil([&] {
                return !m_events.isEmpty() && m_events.constLast().error() &&
                    m_events.constLast().error()->message == u"sentinel";
            }));
        }
        qint64 now = 0;
        for (int at : audioAtMs) {
            m_clock->advance(std::chrono::milliseconds(at - now));
            now = at;
            m_client->sendAudio(chunk(at));
        }
        QVERIFY(waitFrames(frames.size()));
        QCOMPARE(pattern(m_peer->connection().frames), frames);
    }

    // Binary framing until 50 chunks have gone without a transcript, JSON framing from then on.
    void framingSwitch_data()
    {
        QTest::addColumn<int>("chunks");
        QTest::addColumn<int>("eventAfterChunk"); // 0: none
        QTest::addColumn<QByteArray>("event");
        QTest::addColumn<int>("firstJsonChunk"); // 1-based; 0: stays binary

        // clang-format off
        QTest::newRow("49 chunks stay binary") << 49 << 0 << QByteArray() << 0;
        QTest::newRow("the 50th switches") << 60 << 0 << QByteArray() << 50;
        QTest::newRow("partial before the 50th keeps binary") << 60 << 30 << R"({"type":"partial","text":"a"})"_qba << 0;
        QTest::newRow("final at 49 keeps binary") << 55 << 49 << R"({"type":"final","text":"a"})"_qba << 0;
        QTest::newRow("status is not a transcript") << 60 << 10 << R"({"type":"status","state":"live"})"_qba << 50;
        QTest::newRow("a late transcript does not switch back") << 60 << 52 << R"({"type":"partial","text":"a"})"_qba << 50;
        // clang-format on
    }
    void framingSwitch()
    {
        QFETCH(int, chunks);
        QFETCH(int, eventAfterChunk);
        QFETCH(QByteArray, event);
        QFETCH(int, firstJsonChunk);

        QVERIFY(open());
        for (int i = 1; i <= chunks; ++i) {
            m_client->sendAudio(chunk(i));
            if (i == eventAfterChunk) {
                m_peer->sendText(event);
                QVERIFY(waitEvents(1));
            }
        }
        QVERIFY(waitFrames(chunks + 1));
        const StreamConnection &connection = m_peer->connection();
        QCOMPARE(connection.frames.size(), chunks + 1);
        QCOMPARE(connection.wireFrames, chunks + 1); // one wire frame per chunk, none split
        for (int i = 1; i <= chunks; ++i) {
            const StreamFrame &frame = connection.frames.at(i);
            const bool json = firstJsonChunk > 0 && i >= firstJsonChunk;
            QVERIFY2(frame.isText == json, qPrintable(QStringLiteral("chunk %1").arg(i)));
            QVERIFY2(frame.data == (json ? base64Message(chunk(i)) : chunk(i)),
                     qPrintable(QStringLiteral("chunk %1").arg(i)));
        }
        QCOMPARE(m_client->isBase64Framing(), firstJsonChunk > 0);
    }

    void framingSurvivesReconnectButNotANewConnect()
    {
        QVERIFY(open());
        for (int i = 1; i <= 50; ++i)
            m_client->sendAudio(chunk(i));
        QVERIFY(waitFrames(51));
        m_peer->closeWith(4000);
        QVERIFY(waitEvents(1));
        m_clock->advance(400ms);
        QVERIFY(waitConnections(2));
        m_client->sendAudio(chunk(51));
        // No pong ever confirmed the first 50 chunks, so they go again, still as JSON.
        QVERIFY(waitFrames(52));
        QCOMPARE(pattern(m_peer->connection().frames), QStringLiteral("S") + QString(51, u'J'));

        m_client->close();
        connectClient();
        QVERIFY(waitConnections(3));
        m_client->sendAudio(chunk(52));
        QVERIFY(waitFrames(2));
        QCOMPARE(pattern(m_peer->connection().frames), QStringLiteral("SB"));
    }

    // However the server ends the socket, the client reconnects after the first back-off step,
    // closes nothing twice and announces itself again on the new socket; only a normal close
    // right after the server's own "stopped" status, or any end after the client's stop, is the
    // end of the stream.
    void serverEndsSocket_data()
    {
        const QByteArray stopped = R"({"type":"status","state":"stopped","sttModel":"m"})";
        // Sent by the server before it closes; "<stop>": the client sends its stop message.
        QTest::addColumn<QList<QByteArray>>("messages");
        QTest::addColumn<int>("closeCode"); // 0: TCP dropped without a close frame
        QTest::addColumn<bool>("reconnects");
        // clang-format off
        QTest::newRow("1000 normal") << QList<QByteArray> {} << 1000 << true;
        QTest::newRow("1011 server error") << QList<QByteArray> {} << 1011 << true;
        QTest::newRow("4000 application") << QList<QByteArray> {} << 4000 << true;
        QTest::newRow("dropped") << QList<QByteArray> {} << 0 << true;
        QTest::newRow("stopped, then 1000") << QList<QByteArray> {stopped} << 1000 << false;
        QTest::newRow("stopped, error, then 1000") << QList<QByteArray> {stopped, R"({"type":"error","message":"x"})"} << 1000 << false;
        QTest::newRow("stopped, then 1011") << QList<QByteArray> {stopped} << 1011 << true;
        QTest::newRow("stopped, then dropped") << QList<QByteArray> {stopped} << 0 << true;
        QTest::newRow("stopped, listening again, then 1000") << QList<QByteArray> {stopped, R"({"type":"status","state":"listening"})"} << 1000 << true;
        QTest::newRow("final, then 1000") << QList<QByteArray> {R"({"type":"final","text":"kesken"})"} << 1000 << true;
        QTest::newRow("client stop, final, then 1000") << QList<QByteArray> {"<stop>", R"({"type":"final","text":"viimeinen"})"} << 1000 << false;
        QTest::newRow("client stop, then dropped") << QList<QByteArray> {"<stop>"} << 0 << false;
        // clang-format on
    }
    void serverEndsSocket()
    {
        QFETCH(QList<QByteArray>, messages);
        QFETCH(int, closeCode);
        QFETCH(bool, reconnects);
        QVERIFY(open());
        for (const QByteArray &message : messages) {
            if (message != "<stop>") {
                m_peer->sendText(message);
                continue;
            }
            m_client->sendStop();
            QVERIFY(waitFrames(2));
            QCOMPARE(pattern(m_peer->connection().frames), QStringLiteral("ST"));
            QVERIFY(m_client->isActive()); // the stop message changes nothing by itself
        }
        const int before = int(messages.size() - messages.count("<stop>"));
        QVERIFY(waitEvents(before));
        if (closeCode)
            m_peer->closeWith(closeCode);
        else
            m_peer->dropConnection();

        if (!reconnects) {
            // The ping timer goes with the socket and no reconnect timer takes its place.
            QVERIFY(waitUntil([&] { return m_clock->activeTimerCount() == 0; }));
            m_clock->advance(30s);
            QCOMPARE(m_events.size(), before);
            QCOMPARE(m_peer->connectionCount(), 1);
            QCOMPARE(m_client->reconnectAttempts(), 0);
            QVERIFY(m_client->isActive()); // the controller still disconnects it
            return;
        }
        QVERIFY(waitEvents(before + 1));
        QCOMPARE(m_events.size(), before + 1); // error and disconnect of one socket: one reconnect
        QVERIFY(isReconnecting(before));
        QCOMPARE(msUntilOnlyTimer(), 400);

        m_clock->advance(399ms);
        QCOMPARE(m_peer->connectionCount(), 1);
        m_clock->advance(1ms);
        QVERIFY(waitConnections(2));
        QVERIFY(waitFrames(1));
        QVERIFY(startOffset(m_peer->connection().frames.constFirst()));
        QCOMPARE(m_events.size(), before + 1);
    }

    void backOffScheduleUntilExhausted_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("reason");
        // clang-format off
        QTest::newRow("refused") << "refused" << "Palvelimeen ei saatu yhteyttä";
        QTest::newRow("closed on open") << "close-4000" << "Palvelin sulki yhteyden (koodi 4000)";
        // clang-format on
    }
    void backOffScheduleUntilExhausted()
    {
        QFETCH(QString, failure);
        QFETCH(QString, reason);
        if (failure == u"refused")
            m_peer->stopListening();
        else
            m_peer->setCloseOnOpen(4000);

        connectClient();
        const QList<qint64> delays {400, 800, 1600, 3200, 4000, 4000, 4000, 4000};
        for (int attempt = 0; attempt < delays.size(); ++attempt) {
            QVERIFY2(waitEvents(attempt + 1), qPrintable(QString::number(attempt)));
            QCOMPARE(m_events.size(), attempt + 1);
            QVERIFY(isReconnecting(attempt));
            QCOMPARE(m_client->reconnectAttempts(), attempt + 1);
            QCOMPARE(msUntilOnlyTimer(), delays.at(attempt));
            QVERIFY(m_clock->advanceToNextTimer());
        }
        QVERIFY(waitEvents(9));
        QCOMPARE(m_events.size(), 9);
        QVERIFY(m_events.constLast().error());
        QCOMPARE(m_events.constLast().error()->message,
                 QStringLiteral("WS-yhteys katkesi eikä uudelleenyhteys onnistunut: ") + reason);
        QCOMPARE(m_clock->activeTimerCount(), 0);
        QVERIFY(m_client->isActive()); // stays running until the controller lets go
        if (failure != u"refused")
            QCOMPARE(m_peer->connectionCount(), 9);
    }

    void confirmingMessageResetsTheBudget()
    {
        m_peer->setCloseOnOpen(4000);
        connectClient();
        for (int attempt = 0; attempt < 3; ++attempt) {
            QVERIFY(waitEvents(attempt + 1));
            m_clock->advanceToNextTimer();
        }
        m_peer->setCloseOnOpen(std::nullopt);
        QVERIFY(waitConnections(4));
        QCOMPARE(m_client->reconnectAttempts(), 3);
        m_peer->sendText(R"({"type":"status","state":"live","sttModel":"chirp_3"})");
        QVERIFY(waitEvents(4));
        QCOMPARE(m_client->reconnectAttempts(), 0);
        m_peer->closeWith(1011);
        QVERIFY(waitEvents(5));
        QVERIFY(isReconnecting(4));
        QCOMPARE(msUntilOnlyTimer(), 400);
    }

    // A closed socket, or a silent one at its ping deadline, is replaced; chunks the server may
    // not have kept (since the pong before the last one) and chunks captured while no socket was
    // open go out on the new socket after its start, in order.
    void outageLosesNoAudio_data()
    {
        QTest::addColumn<bool>("silent");
        // clang-format off
        QTest::newRow("server closes") << false;
        QTest::newRow("server goes silent until the ping deadline") << true;
        // clang-format on
    }
    void outageLosesNoAudio()
    {
        QFETCH(bool, silent);
        QSignalSpy pongs(m_client.get(), &WebSocketStreamClient::pongReceived);
        QVERIFY(open());
        int next = 0;
        const auto sendUpTo = [&](int end) {
            while (next < end)
                m_client->sendAudio(chunk(next++));
        };
        for (int ping = 1; ping <= 2; ++ping) {
            sendUpTo(10 * ping);
            m_clock->advance(5s);
            QVERIFY(waitUntil([&] { return pongs.count() == ping; }));
        }
        sendUpTo(25);
        QVERIFY(waitFrames(26));
        QVERIFY(m_events.isEmpty()); // answered pings keep the socket
        if (silent) {
            m_peer->goSilent();
            sendUpTo(30);
            m_clock->advance(5s); // a ping that is never answered
            m_clock->advance(9999ms);
            QVERIFY(m_events.isEmpty());
            m_clock->advance(1ms);
        } else {
            m_peer->closeWith(4000);
            QVERIFY(waitEvents(1));
            sendUpTo(30);
        }
        QVERIFY(waitEvents(1));
        QVERIFY(isReconnecting(0));
        m_clock->advance(400ms);
        QVERIFY(waitConnections(2));
        sendUpTo(31);
        QVERIFY(waitFrames(22));
        const auto &frames = m_peer->connection().frames;
        QCOMPARE(frames.size(), 22);
        QCOMPARE(startOffset(frames.constFirst()), 10 * 3200);
        for (int i = 1; i < frames.size(); ++i)
            QVERIFY2(audioOf(frames.at(i)) == chunk(9 + i), qPrintable(QString::number(i)));
    }

    // A full buffer loses its oldest chunks; a stop during the outage waits for a socket that
    // really opens (one whose handshake is not answered within 10 s is given up), follows the
    // held audio on it, and nothing comes after it.
    void heldAudioIsBoundedAndEndsWithTheStop()
    {
        QVERIFY(open());
        m_peer->closeWith(4000);
        QVERIFY(waitEvents(1));
        for (int i = 0; i < 305; ++i)
            m_client->sendAudio(chunk(i));
        QCOMPARE(m_client->audioBufferPeakBytes(), WebSocketStreamClient::kAudioBufferBytes);
        m_client->sendStop();
        m_client->sendAudio(chunk(305));
        m_peer->setAnswerHandshakes(false);
        m_clock->advance(400ms);
        QVERIFY(waitConnections(2));
        m_peer->setAnswerHandshakes(true);
        m_clock->advance(9999ms);
        QCOMPARE(m_events.size(), 1);
        m_clock->advance(1ms);
        QCOMPARE(m_events.size(), 2);
        QVERIFY(isReconnecting(1));
        QVERIFY(m_clock->advanceToNextTimer());
        QVERIFY(waitConnections(3));
        QVERIFY(waitFrames(302));
        m_client->sendAudio(chunk(306));
        m_client->close();
        QVERIFY(waitUntil([&] { return m_peer->connection().closed; }));
        const auto &frames = m_peer->connection().frames;
        QCOMPARE(frames.size(), 302);
        QCOMPARE(startOffset(frames.constFirst()), 5 * 3200);
        for (int i = 0; i < 300; ++i)
            QVERIFY2(audioOf(frames.at(i + 1)) == chunk(i + 5), qPrintable(QString::number(i)));
        QCOMPARE(pattern({frames.constLast()}), QStringLiteral("T"));
    }

    // Server frames and the event each gives, re-encoded (frames that give none: the hostile
    // corpus); a final's time must be a whole-second Internet time with a zone, else it is
    // stamped with the clock's time.
    void streamEvents_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("event");
        const auto finalAt = [](const char *ts) {
            return "{\"type\":\"final\",\"text\":\"a\",\"ts\":\"" + QByteArray(ts) + "\"}";
        };
        const QByteArray at = finalAt("2026-03-01T10:20:30Z");
        const QByteArray now = finalAt("2026-01-05T09:00:00Z");
        // clang-format off
        QTest::newRow("partial") << R"({"type":"partial","text":"hei"})"_qba << R"({"type":"partial","text":"hei"})"_qba;
        QTest::newRow("partial, text a number") << R"({"type":"partial","text":5})"_qba << R"({"type":"partial","text":""})"_qba;
        QTest::newRow("final with speaker and zone") << R"({"type":"final","text":"moi","speakerLabel":"S1","ts":"2026-03-01T12:00:01+02:00"})"_qba << R"({"type":"final","text":"moi","speakerLabel":"S1","ts":"2026-03-01T10:00:01Z"})"_qba;
        QTest::newRow("final, no ts or text, speaker not a string") << R"({"type":"final","speakerLabel":3})"_qba << R"({"type":"final","text":"","ts":"2026-01-05T09:00:00Z"})"_qba;
        QTest::newRow("ts Z") << at << at;
        QTest::newRow("ts negative offset") << finalAt("2026-03-01T05:20:30-05:00") << at;
        QTest::newRow("ts offset without colon") << finalAt("2026-03-01T12:20:30+0200") << at;
        QTest::newRow("ts fractional seconds") << finalAt("2026-03-01T10:20:30.5Z") << now;
        QTest::newRow("ts without zone") << finalAt("2026-03-01T10:20:30") << now;
        QTest::newRow("ts without seconds") << finalAt("2026-03-01T10:20Z") << now;
        QTest::newRow("ts space separator") << finalAt("2026-03-01 10:20:30Z") << now;
        QTest::newRow("ts month 13") << finalAt("2026-13-01T10:20:30Z") << now;
        QTest::newRow("ts hour 24") << finalAt("2026-03-01T24:00:00Z") << now;
        QTest::newRow("ts offset hour 24") << finalAt("2026-03-01T10:20:30+24:00") << now;
        QTest::newRow("ts trailing text") << finalAt("2026-03-01T10:20:30Zx") << now;
        QTest::newRow("ts past year 9999 in UTC") << finalAt("9999-12-31T23:59:59-01:00") << now;
        QTest::newRow("ts before year 1 in UTC") << finalAt("0001-01-01T00:30:00+0100") << now;
        QTest::newRow("status with model") << R"({"type":"status","state":"live","sttModel":"m"})"_qba << R"({"type":"status","state":"live","sttModel":"m"})"_qba;
        QTest::newRow("status without state") << R"({"type":"status","sttModel":null})"_qba << R"({"type":"status","state":""})"_qba;
        QTest::newRow("error without message") << R"({"type":"error"})"_qba << R"({"type":"error","message":"Tuntematon virhe"})"_qba;
        QTest::newRow("error message not a string") << R"({"type":"error","message":{}})"_qba << R"({"type":"error","message":"Tuntematon virhe"})"_qba;
        // clang-format on
    }
    void streamEvents()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, event);
        const QDateTime now(QDate(2026, 1, 5), QTime(9, 0), Qt::UTC);
        const auto parsed = StreamEvent::parse(frame, now);
        QVERIFY(parsed);
        QCOMPARE(parsed->toJson(), QJsonDocument::fromJson(event).object());
        // What a server encodes, the client reads back unchanged.
        QCOMPARE(StreamEvent::parse(wire::compact(parsed->toJson()), now.addDays(1)), parsed);
    }

    // The client parses binary frames too, and stamps a final without its time with the clock's.
    void binaryFrameCarriesAnEvent()
    {
        QVERIFY(open());
        m_peer->sendBinary("{\"type\":\"final\",\"text\":\"h\xc3\xa4n\"}"_qba);
        QVERIFY(waitEvents(1));
        QCOMPARE(QString::fromUtf8(wire::compact(m_events.constFirst().toJson())),
                 QStringLiteral(R"({"text":"hän","ts":"2026-01-05T09:00:00Z","type":"final"})"));
    }

    // The event handler may destroy the client, or close it, while one of its events is
    // delivered; nothing is delivered after that and no timer stays armed.
    void handlerEndsTheClient_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("destroys") << true;
        QTest::newRow("closes") << false;
    }
    void handlerEndsTheClient()
    {
        QFETCH(bool, destroy);
        auto *client = new WebSocketStreamClient(m_clock.get());
        QPointer<WebSocketStreamClient> watch(client);
        const auto cleanup = qScopeGuard([&] { delete watch.data(); });
        client->open(m_peer->url().toString(), QStringLiteral("fi-FI"), QStringLiteral("chirp_3"),
                     [client, destroy, this](const StreamEvent &event) {
                         m_events.append(event);
                         if (destroy)
                             delete client;
                         else
                             client->close();
                     });
        QVERIFY(waitFrames(1));
        m_peer->sendText(R"({"type":"partial","text":"a"})");
        m_peer->sendText(R"({"type":"partial","text":"b"})");
        QVERIFY(waitUntil([&] { return !m_events.isEmpty() && m_peer->connection().closed; }));
        m_clock->advance(10s);
        QCOMPARE(m_events.size(), 1);
        QCOMPARE(m_clock->activeTimerCount(), 0);
        QCOMPARE(watch.isNull(), destroy);
        QCOMPARE(m_peer->connection().clientCloseCode, std::optional<int>(1001));
    }

    // A close, with the socket open or while a reconnect waits, ends everything: a going-away
    // close frame, no timer, nothing sent or reported afterwards.
    void closeEndsEverything_data()
    {
        QTest::addColumn<bool>("reconnectPending");
        QTest::newRow("socket open") << false;
        QTest::newRow("reconnect pending") << true;
    }
    void closeEndsEverything()
    {
        QFETCH(bool, reconnectPending);
        if (reconnectPending)
            m_peer->setCloseOnOpen(4000);
        connectClient();
        QVERIFY(reconnectPending ? waitEvents(1) : waitFrames(1));
        m_client->close();
        m_client->close();
        QVERIFY(!m_client->isActive());
        QCOMPARE(m_clock->activeTimerCount(), 0);
        QVERIFY(waitUntil([&] { return m_peer->connection().closed; }));
        if (!reconnectPending)
            QCOMPARE(m_peer->connection().clientCloseCode, std::optional<int>(1001));
        const auto sent = m_peer->connection().frames.size();
        m_client->sendAudio(chunk(1));
        m_client->sendStop();
        m_clock->advance(30s);
        QCOMPARE(m_peer->connection().frames.size(), sent);
        QCOMPARE(m_peer->connectionCount(), 1);
        QCOMPARE(m_events.size(), reconnectPending ? 1 : 0);
    }
};

VERNALO_TEST_MAIN(WebSocketStreamClientTest)
#include "test_websocket_stream_client.moc"
