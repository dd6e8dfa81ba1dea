// The live transcript through the whole controller: stream events and the two pollers feeding
// one de-duplicated list, the pollers' pace, polls that fail or answer late, and recordings
// that the server or the stream end.
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QNetworkReply>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

QStringList texts(const QList<TranscriptSegment> &segments)
{
    return ControllerHarness::texts(segments);
}

enum class RemoteEnd { StreamExhausted, StatusStopped, MetaStopped, MetaEnded };

} // namespace

Q_DECLARE_METATYPE(RemoteEnd)

class ViewModelTranscriptTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;
    TranscriptionViewModel *vm = nullptr;

    void say(const QString &text, const QString &ts, const QString &speaker = {})
    {
        QVERIFY(h->sayFinal(text, ts, speaker));
    }
    bool requestsInFlight() const
    {
        const auto replies = h->network.findChildren<QNetworkReply *>();
        return std::any_of(replies.cbegin(), replies.cend(),
                           [](const QNetworkReply *reply) { return !reply->isFinished(); });
    }

private Q_SLOTS:
    void init()
    {
        h = std::make_unique<ControllerHarness>();
        QVERIFY(h->start());
        vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
    }
    void cleanup() { h.reset(); }

    // The same sentence from the stream and from the transcript poll is listed once. A new
    // sentence in the same poll answer shows that the answer was applied.
    void streamAndPollAgreeOnOneSegment_data()
    {
        QTest::addColumn<QString>("streamTs");
        QTest::addColumn<QByteArray>("polled");
        QTest::addColumn<int>("expected");
        QTest::newRow("same second, other case and spacing")
            << "2026-03-01T12:00:03Z"
            << QByteArray(
                   R"({"text":"päätetään   BUDJETISTA.","ts":"2026-03-01T12:00:03Z","speakerLabel":"S1"})")
            << 2;
        QTest::newRow("no server time, other speaker")
            << "2026-03-01T12:00:03Z"
            << QByteArray(R"({"text":"Päätetään budjetista.","speakerLabel":"S2"})") << 3;
    }
    void streamAndPollAgreeOnOneSegment()
    {
        QFETCH(QString, streamTs);
        QFETCH(QByteArray, polled);
        QFETCH(int, expected);
        QVERIFY(h->startLive());
        say("Päätetään budjetista.", streamTs, "S1");
        h->setServerTranscript(
            "rec-1", "[" + polled + R"(,{"text":"Uusi asia.","ts":"2026-03-01T12:00:20Z"}])");
        QVERIFY(h->nextTranscriptPoll("rec-1"));
        QVERIFY(texts(vm->segments()).contains("Uusi asia."));
        QCOMPARE(vm->segments().size(), expected);
        // Polling again changes nothing.
        QVERIFY(h->nextTranscriptPoll("rec-1"));
        QCOMPARE(vm->segments().size(), expected);
        QVERIFY(h->stopAndFinish());
        QCOMPARE(h->savedSession("rec-1")->segments.size(), expected);
    }

    // Each poller asks at its own pace and no faster: ten seconds of virtual time in steps
    // finer than either interval, every step's requests answered before the next step.
    void pollersKeepTheirPace_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("polls");
        QTest::newRow("transcript every 2 s") << "/v1/sessions/rec-1/transcript" << 5;
        QTest::newRow("metadata every 2.5 s") << "/v1/sessions/rec-1" << 4;
    }
    void pollersKeepTheirPace()
    {
        QFETCH(QString, path);
        QFETCH(int, polls);
        QVERIFY(h->startLive());
        const qsizetype before = h->requests("GET", path).size();
        for (int step = 0; step < 100; ++step) {
            h->advance(100ms);
            QVERIFY(h->waitFor([&] { return !requestsInFlight(); }));
        }
        QCOMPARE(h->requests("GET", path).size() - before, polls);
    }

    void pollFailuresAreSilentAndRetried()
    {
        QVERIFY(h->startLive());
        const QString listening = vm->statusText();
        h->backend.on("GET", "/v1/sessions/rec-1/transcript",
                      ScriptedResponse::json(503, R"({"error":"ylikuormitus"})"));
        h->backend.on("GET", "/v1/sessions/rec-1", ScriptedResponse::rawBytes("garbage"));
        for (int round = 0; round < 2; ++round) {
            // The microphone is heard, so its liveness check has nothing to say either.
            h->speak(ControllerHarness::testChunk(round));
            QVERIFY(h->nextTranscriptPoll("rec-1"));
            QVERIFY(h->nextSessionMetaPoll("rec-1"));
        }
        QCOMPARE(vm->statusText(), listening);
        QVERIFY(vm->isRecording() && vm->diagnosticHint().isEmpty());
        h->setServerTranscript("rec-1",
                               R"([{"text":"Palvelin toipui.","ts":"2026-03-01T12:00:06Z"}])");
        QVERIFY(h->nextTranscriptPoll("rec-1"));
        QCOMPARE(texts(vm->segments()), QStringList {"Palvelin toipui."});
    }

    // Answers of the first recording's pollers that arrive after the second one started are
    // dropped: no old sentence in the new transcript, and an old "stopped" ends nothing.
    void lateAnswersOfThePreviousRecordingAreDropped()
    {
        QVERIFY(h->startLive());
        say("Ensimmäinen.", "2026-03-01T12:00:01Z");
        h->backend.enqueue("GET", "/v1/sessions/rec-1/transcript", ScriptedResponse::silence());
        h->backend.enqueue("GET", "/v1/sessions/rec-1", ScriptedResponse::silence());
        h->advance(2500ms);
        QVERIFY(h->waitFor([&] { return h->backend.heldCount() == 2; }));
        QVERIFY(h->stopAndFinish());

        h->expectSession(QStringLiteral("rec-2"));
        QVERIFY(h->startLive());
        const int transcriptAnswers = h->answersTo("/v1/sessions/rec-1/transcript");
        const int metaAnswers = h->answersTo("/v1/sessions/rec-1");
        QVERIFY(h->backend.answerHeld(ScriptedResponse::json(
            200,
            R"({"sessionId":"rec-1","segments":[{"text":"Vanha lause.","ts":"2026-03-01T12:00:02Z"}]})")));
        QVERIFY(h->backend.answerHeld(ScriptedResponse::json(200, R"({"status":"stopped"})")));
        QVERIFY(h->waitAnswers("/v1/sessions/rec-1/transcript", transcriptAnswers + 1));
        QVERIFY(h->waitAnswers("/v1/sessions/rec-1", metaAnswers + 1));

        say("Toinen.", "2026-03-01T12:01:00Z");
        QVERIFY(h->nextSessionMetaPoll("rec-2"));
        QVERIFY(vm->isRecording());
        QCOMPARE(texts(vm->segments()), QStringList {"Toinen."});
        QCOMPARE(texts(h->savedSession("rec-1")->segments), QStringList {"Ensimmäinen."});
    }

    // When the server or the stream ends the session, the recording ends, the text stays on
    // screen and in the history, and the backend is not asked to stop what it already ended.
    // Until that text is saved a start is refused, not merged into the old recording.
    void remoteEndKeepsAndStoresTheText_data()
    {
        QTest::addColumn<RemoteEnd>("end");
        QTest::newRow("stream reconnects exhausted") << RemoteEnd::StreamExhausted;
        QTest::newRow("status stopped, start pressed meanwhile") << RemoteEnd::StatusStopped;
        QTest::newRow("metadata stopped, odd case and spaces") << RemoteEnd::MetaStopped;
        QTest::newRow("metadata with an end time") << RemoteEnd::MetaEnded;
    }
    void remoteEndKeepsAndStoresTheText()
    {
        QFETCH(RemoteEnd, end);
        QVERIFY(h->startLive());
        say("Puhetta ennen loppua.", "2026-03-01T12:00:01Z");
        h->setServerTranscript("rec-1",
                               R"([{"text":"Palvelimen viimeinen.","ts":"2026-03-01T12:00:02Z"}])");
        switch (end) {
        case RemoteEnd::StreamExhausted:
            h->sendEvent(
                R"({"type":"error","message":"WS-yhteys katkesi eikä uudelleenyhteys onnistunut: aikakatkaisu"})");
            break;
        case RemoteEnd::StatusStopped:
            // Handed over directly, so its closing steps surely still run when start is pressed.
            vm->handleStreamEvent(
                StreamEvent {StreamEvent::Status {QStringLiteral("stopped"), {}}});
            QVERIFY(!vm->isRecording() && !vm->canStart());
            vm->startRecording();
            QVERIFY(!vm->isStartingRecording());
            break;
        case RemoteEnd::MetaStopped:
            h->setServerMeta("rec-1", R"({"status":" Stopped "})");
            h->advance(2500ms);
            break;
        case RemoteEnd::MetaEnded:
            h->setServerMeta("rec-1", R"({"status":"active","endedAt":"2026-03-01T12:00:02Z"})");
            h->advance(2500ms);
            break;
        }
        QVERIFY(h->waitFor([&] { return !vm->isRecording() && vm->canStart(); }));

        QVERIFY(vm->diagnosticHint().startsWith(QStringLiteral("Palvelin sulki session")));
        const QStringList expected {"Puhetta ennen loppua.", "Palvelimen viimeinen."};
        QCOMPARE(texts(vm->segments()), expected);
        QCOMPARE(texts(h->savedSession("rec-1")->segments), expected);
        QCOMPARE(h->requests("POST", "/v1/sessions").size(), 1);
        QVERIFY(h->requests("POST", "/v1/sessions/rec-1/stop").isEmpty());
        QVERIFY(h->audio.openStreams().isEmpty());
        QVERIFY(h->waitFor([&] { return h->stream.openConnectionCount() == 0; }));
    }
};

VERNALO_TEST_MAIN(ViewModelTranscriptTest)
#include "test_view_model_transcript.moc"
