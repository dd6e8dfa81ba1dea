// Starting, pausing and resuming a recording through the whole controller: real capture classes
// on a scripted sound server, the real REST and stream clients against loopback peers, virtual
// time for every timer.
#include "recording/pause_label.h"
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

enum class StartFault { Refused, HtmlError, BadStreamAddress, NoMicrophone, ServerDown, NoSystem };

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
    void resumeAndConfirm()
    {
        const int before = h->answersTo(kMetaPath);
        vm->resumeRecording();
        QVERIFY(vm->isResumingRecording());
        QVERIFY(h->waitAnswers(kMetaPath, before + 1));
        QVERIFY(h->waitFor([&] { return !vm->isPaused(); }));
    }
    // Pauses a live recording and holds the resume's backend check unanswered.
    void pauseAndHoldTheResume()
    {
        QVERIFY(h->startLive());
        vm->pauseRecording();
        h->backend.enqueue("GET", kMetaPath, ScriptedResponse::silence());
        vm->resumeRecording();
        QVERIFY(h->waitFor([&] { return h->backend.heldCount() == 1; }));
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
        QCOMPARE(vm->sessionId(), QStringLiteral("rec-1"));
        QCOMPARE(vm->statusText(), QStringLiteral("Kuuntelen... (Desk Mic)"));
        QVERIFY(!vm->canStart() && vm->canStop());
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
            QCOMPARE(vm->statusText(), QStringLiteral("Pysäytetään..."));
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
        QCOMPARE(vm->sessionId(), QStringLiteral("rec-3"));
        h->advance(31s);
        QVERIFY(vm->isRecording());
    }

    void startFailureLeavesNothingRunning_data()
    {
        QTest::addColumn<StartFault>("fault");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("sessionCreated");
        QTest::newRow("server refuses") << StartFault::Refused << "Palvelu huollossa" << false;
        QTest::newRow("html error") << StartFault::HtmlError << "Palvelinvirhe (500)" << false;
        QTest::newRow("not a socket address")
            << StartFault::BadStreamAddress << "Virheellinen backend-osoite" << true;
        QTest::newRow("no microphone")
            << StartFault::NoMicrophone << "Audio engine ei ole käyttövalmis" << true;
        QTest::newRow("sound server down")
            << StartFault::ServerDown << "Mikrofonin käyttöoikeus puuttuu" << false;
        QTest::newRow("system audio cannot be opened")
            << StartFault::NoSystem << "Systeemiäänen kaappausta ei voitu käynnistää." << true;
    }
    void startFailureLeavesNothingRunning()
    {
        QFETCH(StartFault, fault);
        QFETCH(QString, status);
        QFETCH(bool, sessionCreated);
        ScriptedResponse html = ScriptedResponse::json(500, "<html>oops</html>");
        html.contentType = "text/html";
        if (fault == StartFault::Refused)
            h->backend.enqueue("POST", "/v1/sessions",
                               ScriptedResponse::json(503, R"({"error":"Palvelu huollossa"})"));
        else if (fault == StartFault::HtmlError)
            h->backend.enqueue("POST", "/v1/sessions", html);
        else if (fault == StartFault::BadStreamAddress)
            h->backend.enqueue(
                "POST", "/v1/sessions",
                ScriptedResponse::json(
                    200, ControllerHarness::createAnswer("rec-1", QUrl("ftp://127.0.0.1/x"))));
        else if (fault == StartFault::ServerDown)
            h->audio.reachable = false;
        else
            h->expectSession(QStringLiteral("rec-1"));
        if (fault == StartFault::NoMicrophone)
            h->audio.sources.clear();
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
        if (sessionCreated) {
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
        h->advance(1200ms);
        h->advance(5s);
        QVERIFY(h->waitFor([&] { return h->stream.openConnectionCount() == 0; }));
        QVERIFY(h->requests("POST", "/v1/sessions/rec-1/stop").isEmpty());
        QVERIFY(h->audio.openStreams().isEmpty());
    }

    void pauseLabelFormat_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("label");
        QTest::newRow("fraction cut off") << 59.9 << "00:59";
        QTest::newRow("last two-field") << 3599.99 << "59:59";
        QTest::newRow("hour, no leading zero") << 3600.0 << "1:00:00";
        QTest::newRow("negative") << -5.0 << "00:00";
        QTest::newRow("not a number") << std::nan("") << "00:00";
    }
    void pauseLabelFormat()
    {
        QFETCH(double, seconds);
        QFETCH(QString, label);
        QCOMPARE(pauseDurationLabel(seconds), label);
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
        QCOMPARE(vm->statusText(), QStringLiteral("Tauolla"));
        QVERIFY(!vm->canPause());
        h->speak(ControllerHarness::testChunk(2));
        QVERIFY(h->waitAudioChunks(2));
        QCOMPARE(h->audioReceived().at(1), kSilence);
        h->advance(1000ms);
        QVERIFY(h->waitAudioChunks(3));
        QCOMPARE(h->audioReceived().at(2), kSilence);
        h->advance(69s);
        QCOMPARE(vm->pauseElapsedLabel(), QStringLiteral("01:10"));

        resumeAndConfirm();
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

    // The backend check outlasts the 12 s guard: still paused and resumable, and the late answer
    // changes nothing. Pause and resume pressed meanwhile change nothing either.
    void resumeTimesOutAndTheLateAnswerIsIgnored()
    {
        vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
        CHECKED(pauseAndHoldTheResume());
        vm->pauseRecording();
        vm->resumeRecording();
        QCOMPARE(vm->statusText(), QStringLiteral("Jatketaan..."));
        h->advance(11999ms);
        QVERIFY(vm->isResumingRecording());
        h->advance(1ms);
        QVERIFY(!vm->isResumingRecording());
        QVERIFY(vm->isPaused() && vm->canResume());
        QCOMPARE(vm->statusText(), QStringLiteral("Jatkaminen aikakatkaistiin"));

        const int before = h->answersTo(kMetaPath);
        QVERIFY(h->backend.answerHeld(ScriptedResponse::json(200, R"({"status":"active"})")));
        QVERIFY(h->waitAnswers(kMetaPath, before + 1));
        QCoreApplication::processEvents();
        QVERIFY(vm->isPaused());
        resumeAndConfirm();
        QVERIFY(vm->isRecording());
    }

    // A stop while the resume waits wins: the late answer neither revives the recording nor
    // fires the time-out text.
    void stopDuringResumeWins()
    {
        vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
        CHECKED(pauseAndHoldTheResume());
        QVERIFY(h->stopAndFinish());
        QVERIFY(h->backend.answerHeld(ScriptedResponse::json(200, R"({"status":"active"})")));
        h->advance(13s);
        QVERIFY(!vm->isRecording() && !vm->isPaused());
        QCOMPARE(vm->statusText(), QStringLiteral("Pysäytetty"));
    }

    // The backend ended the session during the pause: the resume becomes a remote stop that
    // does not call the backend's stop, and the monitor reports it.
    void resumeFindsTheSessionEnded()
    {
        vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
        RecordingMonitor monitor(vm, &h->clock);
        QSignalSpy ended(&monitor, &RecordingMonitor::endedByItself);
        QVERIFY(h->startLive());
        vm->pauseRecording();
        h->setServerMeta(QStringLiteral("rec-1"), R"({"status":"stopped"})");
        vm->resumeRecording();
        QVERIFY(h->waitFor([&] { return !vm->isRecording(); }));
        QCOMPARE(vm->statusText(), QStringLiteral("Sessio sulkeutui tauon aikana"));
        QVERIFY(h->waitStopFinished());
        QVERIFY(h->requests("POST", "/v1/sessions/rec-1/stop").isEmpty());
        QCOMPARE(ended.count(), 1);
    }
};

VERNALO_TEST_MAIN(ViewModelLifecycleTest)
#include "test_view_model_lifecycle.moc"
