// Starting a recording through the whole controller: real capture classes on a scripted sound
// server, the real REST and stream clients against loopback peers, virtual time for every timer.
#include "foundation/app_log.h"
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QJsonObject>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

QString logTail()
{
    AppLog::flush();
    return AppLog::snapshot(1 << 20);
}

// Faults a start can run into, one per row of the failure table.
enum class StartFault {
    ServerRefuses,
    ServerErrorWithoutText,
    BadStreamAddress,
    NoMicrophone,
    SoundServerDown,
    SystemAudioUnavailable
};

} // namespace

class ViewModelLifecycleTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;

    bool waitForCreateRequests(int count)
    {
        return h->waitFor([&] { return h->requests("POST", "/v1/sessions").size() >= count; });
    }

private Q_SLOTS:
    void init()
    {
        h = std::make_unique<ControllerHarness>();
        QVERIFY(h->start());
    }
    void cleanup() { h.reset(); }

    void startSendsTheSessionRequestAndOpensTheStream()
    {
        TranscriptionViewModel *vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
        QString why;
        QVERIFY2(h->startLive(&why), qPrintable(why));
        QCOMPARE(vm->sessionId(), QStringLiteral("rec-1"));
        QCOMPARE(vm->statusText(), QStringLiteral("Kuuntelen... (Desk Mic)"));
        QVERIFY(!vm->canStart());
        QVERIFY(vm->canStop());

        const RecordedRequest create = h->requests("POST", "/v1/sessions").first();
        QCOMPARE(create.header("x-api-key"), QByteArray("test-api-key"));
        const QJsonObject body = create.json().object();
        QCOMPARE(body.value("language").toString(), QStringLiteral("fi-FI"));
        QCOMPARE(body.value("sttModel").toString(), QStringLiteral("chirp_3"));
        QCOMPARE(body.value("enableInterim").toBool(), true);
        QCOMPARE(body.value("enableSpeakerDiarization").toBool(true), false);
        QCOMPARE(body.value("speakerCount").toInt(-1), 0);
        QCOMPARE(h->stream.connection().requestUrl.path(),
                 QStringLiteral("/v1/sessions/rec-1/stream"));

        // Every chunk reaches the wire unchanged and in order, also when one capture buffer
        // carries two of them.
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
        QTest::addColumn<bool>("secondPressWhileStarting");
        QTest::newRow("while the session is being created") << true;
        QTest::newRow("while recording") << false;
    }
    void startPressedTwiceMakesOneSession()
    {
        QFETCH(bool, secondPressWhileStarting);
        TranscriptionViewModel *vm = h->build();
        h->holdNextCreate();
        vm->startRecording();
        QVERIFY(h->waitFor([&] { return h->backend.heldCount() == 1; }));
        if (secondPressWhileStarting)
            vm->startRecording();
        QVERIFY(h->answerHeldCreate(QStringLiteral("rec-1")));
        QVERIFY(h->waitFor([&] { return vm->isRecording() && h->stream.connectionCount() == 1; }));
        if (!secondPressWhileStarting)
            vm->startRecording();
        h->speak(ControllerHarness::testChunk(1));
        QVERIFY(h->waitAudioChunks(1));

        QCOMPARE(h->requests("POST", "/v1/sessions").size(), 1);
        QCOMPARE(h->stream.connectionCount(), 1);
        QCOMPARE(h->audio.openStreams().size(), 1);
        QCOMPARE(vm->sessionId(), QStringLiteral("rec-1"));
    }

    // A stop while the backend is still creating the session: the late session is stopped at
    // once and never streamed to.
    void stopDuringSessionCreationStopsTheLateSession()
    {
        TranscriptionViewModel *vm = h->build();
        h->holdNextCreate();
        vm->startRecording();
        QVERIFY(h->waitFor([&] { return h->backend.heldCount() == 1; }));
        vm->stopRecording();
        QCOMPARE(vm->statusText(), QStringLiteral("Pysäytetään..."));
        QVERIFY(!vm->canStop());

        h->backend.on("POST", "/v1/sessions/late-1/stop", ScriptedResponse::json(200, "{}"));
        QVERIFY(h->answerHeldCreate(QStringLiteral("late-1")));
        QVERIFY(
            h->waitFor([&] { return !h->requests("POST", "/v1/sessions/late-1/stop").isEmpty(); }));
        QVERIFY(h->waitStopFinished());

        QCOMPARE(h->stream.connectionCount(), 0);
        QVERIFY(h->audio.openRequests.isEmpty());
        QCOMPARE(vm->sessionId(), QString());
        QCOMPARE(vm->statusText(), QStringLiteral("Pysäytetty"));
        QVERIFY(vm->canStart());
        QVERIFY(!h->savedSession(QStringLiteral("late-1")));
    }

    // The 30-second watchdog: nothing happens a moment before it, everything is undone at it,
    // and the session the backend creates afterwards is stopped without touching anything.
    void startTimesOutAndTheLateAnswerIsIgnored()
    {
        TranscriptionViewModel *vm = h->build();
        h->holdNextCreate();
        vm->startRecording();
        QVERIFY(h->waitFor([&] { return h->backend.heldCount() == 1; }));

        h->advance(29999ms);
        QVERIFY(vm->isStartingRecording());
        h->advance(1ms);
        QVERIFY(!vm->isStartingRecording());
        QCOMPARE(vm->statusText(), QStringLiteral("Aloitus aikakatkaistiin"));
        QVERIFY(vm->diagnosticHint().startsWith(QStringLiteral("Sessio syntyi, mutta")));
        QVERIFY(vm->canStart());

        h->backend.on("POST", "/v1/sessions/late-2/stop", ScriptedResponse::json(200, "{}"));
        QVERIFY(h->answerHeldCreate(QStringLiteral("late-2")));
        QVERIFY(
            h->waitFor([&] { return !h->requests("POST", "/v1/sessions/late-2/stop").isEmpty(); }));
        QCOMPARE(vm->statusText(), QStringLiteral("Aloitus aikakatkaistiin"));
        QCOMPARE(vm->sessionId(), QString());
        QCOMPARE(h->stream.connectionCount(), 0);
        QVERIFY(h->audio.openRequests.isEmpty());

        // The next start is not disturbed by anything of the abandoned one.
        h->expectSession(QStringLiteral("rec-3"));
        QVERIFY(h->startLive());
        QCOMPARE(vm->sessionId(), QStringLiteral("rec-3"));
        h->advance(31s);
        QVERIFY(vm->isRecording());
    }

    void startFailureLeavesNothingRunning_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("sessionCreated");
        QTest::newRow("server refuses with its own text")
            << int(StartFault::ServerRefuses) << "microphone"
            << "Palvelu huollossa" << false;
        QTest::newRow("server error without text")
            << int(StartFault::ServerErrorWithoutText) << "microphone"
            << "Palvelinvirhe (500)" << false;
        QTest::newRow("stream address not a socket address")
            << int(StartFault::BadStreamAddress) << "microphone"
            << "Virheellinen backend-osoite" << true;
        QTest::newRow("no microphone at all") << int(StartFault::NoMicrophone) << "microphone"
                                              << "Audio engine ei ole käyttövalmis" << true;
        QTest::newRow("sound server down") << int(StartFault::SoundServerDown) << "microphone"
                                           << "Mikrofonin käyttöoikeus puuttuu" << false;
        QTest::newRow("system audio cannot be opened")
            << int(StartFault::SystemAudioUnavailable) << "systemAudio"
            << "Systeemiäänen kaappausta ei voitu käynnistää." << true;
    }
    void startFailureLeavesNothingRunning()
    {
        QFETCH(int, fault);
        QFETCH(QString, mode);
        QFETCH(QString, status);
        QFETCH(bool, sessionCreated);
        switch (StartFault(fault)) {
        case StartFault::ServerRefuses:
            h->backend.enqueue("POST", "/v1/sessions",
                               ScriptedResponse::json(503, R"({"error":"Palvelu huollossa"})"));
            break;
        case StartFault::ServerErrorWithoutText: {
            ScriptedResponse html = ScriptedResponse::json(500, "<html>oops</html>");
            html.contentType = "text/html";
            h->backend.enqueue("POST", "/v1/sessions", html);
            break;
        }
        case StartFault::BadStreamAddress:
            h->backend.enqueue(
                "POST", "/v1/sessions",
                ScriptedResponse::json(
                    200, ControllerHarness::createAnswer("rec-1", QUrl("ftp://127.0.0.1/x"))));
            break;
        case StartFault::NoMicrophone:
            h->expectSession(QStringLiteral("rec-1"));
            h->audio.sources.clear();
            break;
        case StartFault::SoundServerDown:
            h->audio.reachable = false;
            break;
        case StartFault::SystemAudioUnavailable:
            h->expectSession(QStringLiteral("rec-1"));
            h->audio.monitorFailure = AudioServerError {QStringLiteral("pulse"), 3, "busy"};
            break;
        }
        h->backend.on("POST", "/v1/sessions/rec-1/stop", ScriptedResponse::json(200, "{}"));
        TranscriptionViewModel *vm = h->build();
        vm->settings()->setInputModeName(mode);
        vm->startRecording();
        QVERIFY(h->waitFor([vm] { return !vm->isStartingRecording(); }));

        QCOMPARE(vm->statusText(), status);
        QVERIFY(!vm->isRecording());
        QVERIFY(vm->canStart());
        QVERIFY(h->audio.openStreams().isEmpty());
        QVERIFY(logTail().contains(QStringLiteral("startRecording failed error=") + status));
        if (sessionCreated) {
            // Nothing will stream into it: the session is not left open on the server.
            QVERIFY(h->waitFor(
                [&] { return !h->requests("POST", "/v1/sessions/rec-1/stop").isEmpty(); }));
            QVERIFY(h->waitFor([&] {
                return h->stream.connectionCount() == 0 || h->stream.openConnectionCount() == 0;
            }));
        }
        // The watchdog of the failed start does nothing later.
        h->advance(31s);
        QCOMPARE(vm->statusText(), status);
    }

    // The stream is kept fed: after more than 1.2 s without captured audio a silent chunk goes
    // out every 0.9 s; before the first captured chunk there is nothing to bridge.
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
        TranscriptionViewModel *vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        if (spokeFirst) {
            h->speak(ControllerHarness::testChunk(7));
            QVERIFY(h->waitAudioChunks(1));
        }
        // Ticks at 0.9 s (too early), 1.8 s and 2.7 s.
        h->advance(2700ms);
        // A last spoken chunk marks the end: whatever the keep-alive sent is on the wire before it.
        const QByteArray marker = ControllerHarness::testChunk(99);
        h->speak(marker);
        const int expected = (spokeFirst ? 1 : 0) + silentChunks + 1;
        QVERIFY(h->waitAudioChunks(expected));
        const QList<QByteArray> received = h->audioReceived();
        QCOMPARE(received.size(), expected);
        QCOMPARE(received.last(), marker);
        for (int i = spokeFirst ? 1 : 0; i < received.size() - 1; ++i)
            QCOMPARE(received[i], QByteArray(3200, '\0'));
        // Silence of the keep-alive is not captured audio.
        QCOMPARE(vm->audioFramesSent(), spokeFirst ? 2 : 1);
    }

    // Until the first sentence arrives, every 25th chunk tells whether anything audible goes
    // out; after that the status line is left to the transcript.
    void listeningHintUntilTheFirstSentence()
    {
        TranscriptionViewModel *vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        for (int i = 0; i < 25; ++i)
            h->speak(QByteArray(3200, '\0'));
        QCOMPARE(vm->statusText(), QStringLiteral("Odottaa puhetta..."));
        for (int i = 0; i < 25; ++i)
            h->speak(ControllerHarness::testChunk(i));
        QCOMPARE(vm->statusText(), QStringLiteral("Kuuntelen..."));

        h->sendEvent(R"({"type":"final","text":"Nyt puhutaan.","ts":"2026-03-01T12:00:05Z"})");
        QVERIFY(h->waitFor([vm] { return vm->segments().size() == 1; }));
        QCOMPARE(vm->statusText(), QStringLiteral("Kuuntelen... (Desk Mic)"));
        for (int i = 0; i < 25; ++i)
            h->speak(QByteArray(3200, '\0'));
        QCOMPARE(vm->statusText(), QStringLiteral("Kuuntelen... (Desk Mic)"));
        QVERIFY(h->waitAudioChunks(75));
    }

    // Coroutines of a controller that is gone end quietly: the stop's wait, the pollers and
    // the late session answer all find it missing.
    void controllerDestroyedWhileWorkIsPending()
    {
        TranscriptionViewModel *vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        vm->stopRecording();
        h->destroyController();
        h->advance(1200ms);
        h->advance(5s);
        QVERIFY(h->waitFor([&] { return h->stream.openConnectionCount() == 0; }));
        QVERIFY(h->requests("POST", "/v1/sessions/rec-1/stop").isEmpty());
        QVERIFY(h->audio.openStreams().isEmpty());
    }
};

VERNALO_TEST_MAIN(ViewModelLifecycleTest)
#include "test_view_model_lifecycle.moc"
