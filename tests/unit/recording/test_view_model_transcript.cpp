// The live transcript through the whole controller: stream events and the two pollers feeding
// one de-duplicated list, polls that fail or answer late, a stream that breaks and comes back,
// and recordings that the server or the stream end.
#include "support/controller_harness.h"
#include "support/test_environment.h"

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
        QTest::newRow("no server time, same speaker")
            << "2026-03-01T12:00:03Z"
            << QByteArray(R"({"text":"Päätetään budjetista.","speakerLabel":"S1"})") << 2;
        QTest::newRow("no server time, other speaker")
            << "2026-03-01T12:00:03Z"
            << QByteArray(R"({"text":"Päätetään budjetista.","speakerLabel":"S2"})") << 3;
        // Times with fractions are refused by the stream and the poll alike, so both fall back
        // to matching by text and speaker instead of keying the sentence twice.
        QTest::newRow("fractional times on both paths")
            << "2026-03-01T12:00:03.400Z"
            << QByteArray(
                   R"({"text":"Päätetään budjetista.","ts":"2026-03-01T12:00:03.400Z","speakerLabel":"S1"})")
            << 2;
        QTest::newRow("another second is another sentence")
            << "2026-03-01T12:00:03Z"
            << QByteArray(
                   R"({"text":"Päätetään budjetista.","ts":"2026-03-01T12:00:09Z","speakerLabel":"S1"})")
            << 3;
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
        QVERIFY(vm->isRecording());
        QVERIFY(vm->diagnosticHint().isEmpty());

        h->setServerTranscript("rec-1",
                               R"([{"text":"Palvelin toipui.","ts":"2026-03-01T12:00:06Z"}])");
        QVERIFY(h->nextTranscriptPoll("rec-1"));
        QCOMPARE(texts(vm->segments()), QStringList {"Palvelin toipui."});
    }

    void metadataRaisesTheCountersNeverLowersThem()
    {
        QVERIFY(h->startLive());
        h->speak(ControllerHarness::testChunk(1));
        h->speak(ControllerHarness::testChunk(2));
        QVERIFY(h->waitAudioChunks(2));
        h->setServerMeta(
            "rec-1",
            R"({"status":"active","audioFrameCount":40,"avgAudioLevel":0.031,"peakAudioLevel":0.4})");
        QVERIFY(h->nextSessionMetaPoll("rec-1"));
        QCOMPARE(vm->audioFramesSent(), 40);
        QCOMPARE(vm->outgoingAudioLevel(), 0.031);
        QCOMPARE(vm->outgoingAudioPeak(), 0.4);
        QVERIFY(vm->lastSessionMetaReceivedAt().isValid());

        h->setServerMeta("rec-1",
                         R"({"status":"active","audioFrameCount":12,"peakAudioLevel":0.1})");
        const QDateTime first = vm->lastSessionMetaReceivedAt();
        QVERIFY(h->nextSessionMetaPoll("rec-1"));
        QVERIFY(vm->lastSessionMetaReceivedAt() > first);
        QCOMPARE(vm->audioFramesSent(), 40);
        QCOMPARE(vm->outgoingAudioPeak(), 0.4);
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

    // A stream that breaks is reopened by itself; the recording and its transcript go on, and
    // the audio flows on the new connection.
    void brokenStreamReconnectsAndTheRecordingGoesOn()
    {
        QVERIFY(h->startLive());
        say("Ennen katkosta.", "2026-03-01T12:00:01Z");
        h->stream.dropConnection();
        QVERIFY(h->waitFor([&] { return vm->statusText() == u"Yhdistetään uudelleen..."; }));
        QVERIFY(vm->isRecording());

        h->advance(400ms);
        QVERIFY(h->waitFor([&] {
            return h->stream.connectionCount() == 2 && !h->stream.connection().frames.isEmpty();
        }));
        const QByteArray after = ControllerHarness::testChunk(42);
        h->speak(after);
        QVERIFY(h->waitAudioChunks(1, 1));
        QCOMPARE(h->audioReceived(1), QList<QByteArray> {after});
        h->sendEvent(R"({"type":"partial","text":"jatkuu"})");
        QVERIFY(h->waitFor([&] { return vm->statusText() == u"Kuuntelen..."; }));
        say("Katkoksen jälkeen.", "2026-03-01T12:00:30Z");

        QVERIFY(h->stopAndFinish());
        QCOMPARE(texts(h->savedSession("rec-1")->segments),
                 (QStringList {"Ennen katkosta.", "Katkoksen jälkeen."}));
    }

    // When the server or the stream ends the session, the recording ends, the text stays on
    // screen and in the history, and the backend is not asked to stop what it already ended.
    void remoteEndKeepsAndStoresTheText_data()
    {
        QTest::addColumn<RemoteEnd>("end");
        QTest::newRow("stream reconnects exhausted") << RemoteEnd::StreamExhausted;
        QTest::newRow("stream status stopped") << RemoteEnd::StatusStopped;
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
            h->sendEvent(R"({"type":"status","state":"stopped"})");
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
        QVERIFY(h->waitFor([&] { return !vm->isRecording() && !vm->isStoppingRecording(); }));

        QCOMPARE(vm->statusText(), QStringLiteral("Yhteys katkesi"));
        QVERIFY(vm->diagnosticHint().startsWith(QStringLiteral("Palvelin sulki session")));
        const QStringList expected {"Puhetta ennen loppua.", "Palvelimen viimeinen."};
        QCOMPARE(texts(vm->segments()), expected);
        const auto saved = h->savedSession("rec-1");
        QVERIFY(saved);
        QCOMPARE(texts(saved->segments), expected);
        QVERIFY(h->requests("POST", "/v1/sessions/rec-1/stop").isEmpty());
        QVERIFY(h->audio.openStreams().isEmpty());
        QVERIFY(h->waitFor([&] { return h->stream.openConnectionCount() == 0; }));
        QVERIFY(vm->canStart());
    }

    // The closing steps of a remote stop hold the transcript like a stop does: a start pressed
    // meanwhile is refused, not merged into the old recording.
    void remoteEndHoldsTheTranscriptUntilSaved()
    {
        QVERIFY(h->startLive());
        say("Vanha.", "2026-03-01T12:00:01Z");
        vm->handleStreamEvent(StreamEvent {StreamEvent::Status {QStringLiteral("stopped"), {}}});
        QVERIFY(!vm->isRecording());
        QVERIFY(!vm->canStart());
        vm->startRecording();
        QVERIFY(!vm->isStartingRecording());
        QVERIFY(h->waitFor([&] { return !vm->isStoppingRecording(); }));
        QVERIFY(vm->canStart());
        QCOMPARE(h->requests("POST", "/v1/sessions").size(), 1);
        QCOMPARE(texts(h->savedSession("rec-1")->segments), QStringList {"Vanha."});
    }

    void statusEventsDriveTheStatusLine_data()
    {
        QTest::addColumn<QByteArray>("event");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("model");
        QTest::newRow("listening names the device")
            << QByteArray(R"({"type":"status","state":"listening"})") << "Kuuntelen... (Desk Mic)"
            << "chirp_3";
        QTest::newRow("waiting for audio")
            << QByteArray(R"({"type":"status","state":"waiting-for-audio"})") << "Odottaa ääntä..."
            << "chirp_3";
        QTest::newRow("safe model")
            << QByteArray(R"({"type":"status","state":"retrying-safe-model","sttModel":"long"})")
            << "Puheentunnistus ei saanut tekstiä. Yritetään varamallia..."
            << "long";
        QTest::newRow("unknown state shown as is")
            << QByteArray(R"({"type":"status","state":"warming-up"})") << "warming-up"
            << "chirp_3";
        // Errors other than an exhausted stream only show their text; the recording goes on.
        QTest::newRow("error without message")
            << QByteArray(R"({"type":"error"})") << "Tuntematon virhe"
            << "chirp_3";
        QTest::newRow("recognizer hiccup")
            << QByteArray(R"({"type":"error","message":"Mallin lataus viivästyi"})")
            << "Mallin lataus viivästyi"
            << "chirp_3";
    }
    void statusEventsDriveTheStatusLine()
    {
        QFETCH(QByteArray, event);
        QFETCH(QString, status);
        QFETCH(QString, model);
        QVERIFY(h->startLive());
        h->sendEvent(event);
        QVERIFY(h->waitFor([&] { return vm->statusText() == status; }));
        QCOMPARE(vm->settings()->sttModel(), model);
        QVERIFY(vm->isRecording());
        say("Malli kirjataan.", "2026-03-01T12:00:01Z");
        QVERIFY(h->stopAndFinish());
        // The session is stored with the model the server really used.
        QCOMPARE(h->savedSession("rec-1")->sttModel, model);
    }

    // Finals land in time order, blank ones are dropped, a partial is the interim line; clearing
    // waits until the recording is over and never touches the history.
    void finalsInTimeOrderAndClearingAfterTheRecording()
    {
        QVERIFY(h->startLive());
        say("Kolmas lause tässä.", "2026-03-01T12:00:30Z");
        say("Ensimmäinen.", "2026-03-01T12:00:10Z");
        h->sendEvent(ControllerHarness::finalEvent("   ", "2026-03-01T12:00:40Z"));
        h->sendEvent(R"({"type":"partial","text":"kesken"})");
        QVERIFY(h->waitFor([&] { return vm->interimText() == u"kesken"; }));
        QCOMPARE(texts(vm->segments()), (QStringList {"Ensimmäinen.", "Kolmas lause tässä."}));
        QCOMPARE(vm->segmentModel()->wordCount(), 4);
        vm->clearTranscript();
        QCOMPARE(vm->segments().size(), 2);
        QVERIFY(h->stopAndFinish());
        vm->clearTranscript();
        QVERIFY(vm->segments().isEmpty());
        QCOMPARE(vm->sessionId(), QString());
        QCOMPARE(vm->statusText(), QStringLiteral("Tyhjennetty"));
        QVERIFY(!vm->canSave());
        QVERIFY(h->savedSession("rec-1"));
    }
};

VERNALO_TEST_MAIN(ViewModelTranscriptTest)
#include "test_view_model_transcript.moc"
