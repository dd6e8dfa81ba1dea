// Starting, pausing and resuming a recording through the whole controller: real capture classes
// on a scripted sound server, the real REST and stream clients against loopback peers, virtual
// time for every timer.
#include "recording/recording_monitor.h"
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QJsonObject>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

const QString kMetaPath = QStringLiteral("/v1/sessions/rec-1");
const QByteArray kSilence(3200, '\0');

enum class StartFault { Refused, BadStreamAddress, NoSystem };

} // namespace

Q_DECLARE_METATYPE(StartFault)

class ViewModelLifecycleTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;
    TranscriptionViewModel *vm = nullptr;

    bool sessionStopped(const QString &id)
    {
        return h->waitFor(
            [&] { return !h->requests("POST", "/v1/sessions/" + id + "/stop").isEmpty(); });
    }
private Q_SLOTS:
    void init()
    {
        h = std::make_unique<ControllerHarness>();
        QVERIFY(h->start());
        vm = nullptr;
    }
    void cleanup() { h.reset(); }

    void startSendsTheSessionRequestAndStreamsEveryChunkInOrder()
    {
        vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
        QString why;
        QVERIFY2(h->startLive(&why), qPrintable(why));
        QVERIFY(!vm->canStart() && vm->canStop());
        const RecordedRequest create = h->requests("POST", "/v1/sessions").first();
        QCOMPARE(create.header("x-api-key"), QByteArray("test-api-key"));
        const QJsonObject body = create.json().object();
        QCOMPARE(body.value("language").toString(), QStringLiteral("fi-FI"));
        QCOMPARE(body.value("sttModel").toString(), QStringLiteral("chirp_3"));
        QCOMPARE(body.value("enableSpeakerDiarization").toBool(true), false);
        QCOMPARE(h->stream.connection().requestUrl.path(),
                 QStringLiteral("/v1/sessions/rec-1/stream"));

        // Also when one capture buffer carries two chunks.
        QList<QByteArray> spoken;
        for (int i = 0; i < 5; ++i)
            spoken << ControllerHarness::testChunk(i);
        h->speak(spoken[0] + spoken[1]);
        for (int i = 2; i < spoken.size(); ++i)
            h->speak(spoken[i]);
        QVERIFY(h->waitAudioChunks(5));
        QCOMPARE(h->audioReceived(), spoken);
        QCOMPARE(vm->audioFramesSent(), 5);
    }

    void startPressedTwiceMakesOneSession_data()
    {
        QTest::addColumn<bool>("whileStarting");
        QTest::newRow("while the session is being created") << true;
        QTest::newRow("while recording") << false;
    }
    void startPressedTwiceMakesOneSession()
    {
        QFETCH(bool, whileStarting);
        vm = h->build();
        h->holdNextCreate();
        vm->startRecording();
        QVERIFY(h->waitFor([&] { return h->backend.heldCount() == 1; }));
        if (whileStarting)
            vm->startRecording();
        QVERIFY(h->answerHeldCreate(QStringLiteral("rec-1")));
        QVERIFY(h->waitFor([&] { return vm->isRecording() && h->stream.connectionCount() == 1; }));
        if (!whileStarting)
            vm->startRecording();
        h->speak(ControllerHarness::testChunk(1));
        QVERIFY(h->waitAudioChunks(1));
        QCOMPARE(h->requests("POST", "/v1/sessions").size(), 1);
        QCOMPARE(h->stream.connectionCount(), 1);
        QCOMPARE(h->audio.openStreams().size(), 1);
    }

    // A stop while the session is created, and the 30 s watchdog (nothing a moment before it):
    // the late session is stopped at once and never streamed to; the next start is undisturbed.
    void lateSessionOfAnAbandonedStartIsStopped_data()
    {
        QTest::addColumn<bool>("userStops");
        QTest::addColumn<QString>("status");
        QTest::newRow("stop pressed") << true << "Pysäytetty";
        QTest::newRow("start timed out") << false << "Aloitus aikakatkaistiin";
    }
    void lateSessionOfAnAbandonedStartIsStopped()
    {
        QFETCH(bool, userStops);
        QFETCH(QString, status);
        vm = h->build();
        h->holdNextCreate();
        vm->startRecording();
        QVERIFY(h->waitFor([&] { return h->backend.heldCount() == 1; }));
        if (userStops) {
            vm->stopRecording();
            QVERIFY(!vm->canStop());
        } else {
            h->advance(29999ms);
            QVERIFY(vm->isStartingRecording());
            h->advance(1ms);
            QVERIFY(!vm->isStartingRecording());
            QVERIFY(vm->diagnosticHint().startsWith(QStringLiteral("Sessio syntyi, mutta")));
        }
        h->backend.on("POST", "/v1/sessions/late-1/stop", ScriptedResponse::json(200, "{}"));
        QVERIFY(h->answerHeldCreate(QStringLiteral("late-1")));
        QVERIFY(sessionStopped("late-1"));
        if (userStops)
            QVERIFY(h->waitStopFinished());
        QCOMPARE(vm->statusText(), status);
        QCOMPARE(vm->sessionId(), QString());
        QCOMPARE(h->stream.connectionCount(), 0);
        QVERIFY(h->audio.openRequests.isEmpty());
        QVERIFY(vm->canStart());
        QVERIFY(!h->savedSession(QStringLiteral("late-1")));

        h->expectSession(QStringLiteral("rec-3"));
        QVERIFY(h->startLive());
        h->advance(31s);
        QVERIFY(vm->isRecording());
    }

    void startFailureLeavesNothingRunning_data()
    {
        QTest::addColumn<StartFault>("fault");
        QTest::addColumn<QString>("status");
        QTest::newRow("server refuses") << StartFault::Refused << "Palvelu huollossa";
        QTest::newRow("not a socket address")
            << StartFault::BadStreamAddress << "Virheellinen backend-osoite";
        QTest::newRow("system audio cannot be opened")
            << StartFault::NoSystem << "Systeemiäänen kaappausta ei voitu käynnistää.";
    }
    void startFailureLeavesNothingRunning()
    {
        QFETCH(StartFault, fault);
        QFETCH(QString, status);
        if (fault == StartFault::Refused)
            h->backend.enqueue("POST", "/v1/sessions",
                               ScriptedResponse::json(503, R"({"error":"Palvelu huollossa"})"));
        else if (fault == StartFault::BadStreamAddress)
            h->backend.enqueue(
                "POST", "/v1/sessions",
                ScriptedResponse::json(
                    200, ControllerHarness::createAnswer("rec-1", QUrl("ftp://127.0.0.1/x"))));
        else
            h->expectSession(QStringLiteral("rec-1"));
        if (fault == StartFault::NoSystem)
            h->audio.monitorFailure = AudioServerError {QStringLiteral("pulse"), 3, "busy"};
        h->backend.on("POST", "/v1/sessions/rec-1/stop", ScriptedResponse::json(200, "{}"));
        vm = h->build();
        vm->settings()->setInputModeName(fault == StartFault::NoSystem ? "systemAudio"
                                                                       : "microphone");
        vm->startRecording();
        QVERIFY(h->waitFor([&] { return !vm->isStartingRecording(); }));
        QCOMPARE(vm->statusText(), status);
        QVERIFY(!vm->isRecording() && vm->canStart());
        QVERIFY(h->audio.openStreams().isEmpty());
        if (fault != StartFault::Refused) {
            // Nothing will stream into it: it is not left open on the server.
            QVERIFY(sessionStopped("rec-1"));
            QVERIFY(h->waitFor([&] { return h->stream.openConnectionCount() == 0; }));
        }
        h->advance(31s);
        QCOMPARE(vm->statusText(), status);
    }

    // After more than 1.2 s without captured audio a silent whole chunk goes out every 0.9 s;
    // before the first captured chunk there is nothing to bridge.
    void keepAliveBridgesAQuietCapture_data()
    {
        QTest::addColumn<bool>("spokeFirst");
        QTest::addColumn<int>("silentChunks");
        QTest::newRow("no audio captured yet") << false << 0;
        QTest::newRow("capture went quiet") << true << 2;
    }
    void keepAliveBridgesAQuietCapture()
    {
        QFETCH(bool, spokeFirst);
        QFETCH(int, silentChunks);
        vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        if (spokeFirst) {
            h->speak(ControllerHarness::testChunk(7));
            QVERIFY(h->waitAudioChunks(1));
        }
        h->advance(2700ms); // ticks at 0.9 s (too early), 1.8 s and 2.7 s
        const QByteArray marker = ControllerHarness::testChunk(99);
        h->speak(marker);
        const int expected = (spokeFirst ? 1 : 0) + silentChunks + 1;
        QVERIFY(h->waitAudioChunks(expected));
        const QList<QByteArray> received = h->audioReceived();
        QCOMPARE(received.size(), expected);
        QCOMPARE(received.last(), marker);
        for (int i = spokeFirst ? 1 : 0; i < received.size() - 1; ++i)
            QCOMPARE(received[i], kSilence);
        QCOMPARE(vm->audioFramesSent(), spokeFirst ? 2 : 1);
    }

    // The stop's wait, the pollers and the late answers of a destroyed controller end quietly.
    void controllerDestroyedWhileWorkIsPending()
    {
        vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        vm->stopRecording();
        h->destroyController();
        h->advance(6200ms);
        QVERIFY(h->waitFor([&] { return h->stream.openConnectionCount() == 0; }));
        QVERIFY(h->requests("POST", "/v1/sessions/rec-1/stop").isEmpty());
        QVERIFY(h->audio.openStreams().isEmpty());
    }

    // Paused audio goes out as zeros of the same length and the keep-alive keeps the stream fed;
    // the label and the elapsed time add up the pauses; after the resume speech flows again.
    void pauseSendsSilenceAndCountsThePausedTime()
    {
        vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
        RecordingMonitor monitor(vm, &h->clock);
        QSignalSpy ended(&monitor, &RecordingMonitor::endedByItself);
        QVERIFY(h->startLive());
        h->speak(ControllerHarness::testChunk(1));
        QVERIFY(h->waitAudioChunks(1));
        vm->pauseRecording();
        QVERIFY(!vm->canPause());
        h->speak(ControllerHarness::testChunk(2));
        QVERIFY(h->waitAudioChunks(2));
        QCOMPARE(h->audioReceived().at(1), kSilence);
        h->advance(1000ms);
        QVERIFY(h->waitAudioChunks(3));
        QCOMPARE(h->audioReceived().at(2), kSilence);
        h->advance(69s);
        QCOMPARE(vm->pauseElapsedLabel(), QStringLiteral("01:10"));

        // The resume asks the backend whether the session still runs.
        const int metaAnswers = h->answersTo(kMetaPath);
        vm->resumeRecording();
        QVERIFY(h->waitFor([&] { return !vm->isPaused(); }));
        QVERIFY(h->answersTo(kMetaPath) > metaAnswers);
        QCOMPARE(vm->pauseElapsedLabel(), QString());
        h->speak(ControllerHarness::testChunk(3));
        QVERIFY(h->waitFor(
            [&] { return h->audioReceived().last() == ControllerHarness::testChunk(3); }));
        vm->pauseRecording();
        h->advance(5s);
        QCOMPARE(vm->pauseElapsedLabel(), QStringLiteral("01:15"));

        QVERIFY(h->stopAndFinish());
        QCOMPARE(vm->pauseElapsedLabel(), QString());
        QCOMPARE(monitor.elapsedLabel(), QString());
        QCOMPARE(ended.count(), 0);
        h->expectSession(QStringLiteral("rec-2"));
        QVERIFY(h->startLive());
        h->advance(65s);
        QCOMPARE(monitor.elapsedLabel(), QStringLiteral("01:05"));
        vm->pauseRecording();
        h->advance(5s);
        QCOMPARE(vm->pauseElapsedLabel(), QStringLiteral("00:05"));
        QCOMPARE(monitor.elapsedLabel(), QStringLiteral("01:05"));
    }
};

VERNALO_TEST_MAIN(ViewModelLifecycleTest)
#include "test_view_model_lifecycle.moc"
