#include "backend/websocket_stream_client.h"
#include "server_test_support.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

// The program's own stream client against the reference server.
class ServerStreamClientTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void clientReceivesFinals_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("chunks");
        QTest::addColumn<bool>("base64Expected");
        QTest::addColumn<QStringList>("finals");
        QTest::newRow("early text keeps binary frames")
            << "1 one two three\n2 [B] four\n"
            << 25 << false << QStringList {"one two three", "four"};
        // No text for 50 chunks makes the client fall back to Base64 JSON frames mid-stream.
        QTest::newRow("late text after the switch to Base64")
            << "6 finally some words\n"
            << 70 << true << QStringList {"finally some words"};
    }
    void clientReceivesFinals()
    {
        QFETCH(QString, script);
        QFETCH(int, chunks);
        QFETCH(bool, base64Expected);
        QFETCH(QStringList, finals);
        InProcessServer server(script);
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        HttpCaller http(server.baseUrl());
        const QJsonObject created = http.stt("POST", "/v1/sessions", sessionRequest()).json();
        const QString id = created.value("sessionId").toString();

        QList<StreamEvent> events;
        WebSocketStreamClient client(&server.clock());
        client.open(created.value("wsUrl").toString(), QStringLiteral("en-US"),
                    QStringLiteral("chirp_3"),
                    [&events](const StreamEvent &event) { events.append(event); });
        QVERIFY(QTest::qWaitFor([&] { return client.isStartConfirmed(); }, 5000));
        for (const QByteArray &chunk : speechChunks(chunks * 100)) {
            client.sendAudio(chunk);
            server.clock().advance(100ms);
        }
        auto finalTexts = [&events] {
            QStringList texts;
            for (const StreamEvent &event : events) {
                if (event.final())
                    texts << event.final()->text;
            }
            return texts;
        };
        QVERIFY(QTest::qWaitFor([&] { return finalTexts().size() == finals.size(); }, 5000));
        QCOMPARE(finalTexts(), finals);
        QCOMPARE(client.isBase64Framing(), base64Expected);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return http.stt("GET", "/v1/sessions/" + id)
                           .json()
                           .value("audioFrameCount")
                           .toInteger() == chunks;
            },
            5000));
        const QJsonArray segments = http.stt("GET", "/v1/sessions/" + id + "/transcript")
                                        .json()
                                        .value("segments")
                                        .toArray();
        QCOMPARE(segments.size(), finals.size());
        QCOMPARE(segments.last().toObject().value("text").toString(), finals.last());

        // A stop from the server side ends the client's stream with the "stopped" status.
        QCOMPARE(http.stt("POST", "/v1/sessions/" + id + "/stop").status, 200);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return std::any_of(events.cbegin(), events.cend(), [](const StreamEvent &event) {
                    return event.status() && event.status()->state == QLatin1String("stopped");
                });
            },
            5000));
        client.close();
    }
};

VERNALO_TEST_MAIN(ServerStreamClientTest)
#include "test_server_stream_client.moc"
