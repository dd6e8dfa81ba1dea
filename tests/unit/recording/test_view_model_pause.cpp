// Pause and resume of a live recording: silence on the wire while paused, the paused-time label
// over several pauses, and a resume that races the backend check, its time-out and a stop.
#include "recording/pause_label.h"
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

const QString kSession = QStringLiteral("rec-1");
const QString kMetaPath = QStringLiteral("/v1/sessions/rec-1");

bool allZero(const QByteArray &bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

} // namespace

class ViewModelPauseTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;
    TranscriptionViewModel *vm = nullptr;

    void resumeAndConfirm()
    {
        const int before = h->answersTo(kMetaPath);
        vm->resumeRecording();
        QVERIFY(vm->isResumingRecording());
        QVERIFY(h->waitAnswers(kMetaPath, before + 1));
        QVERIFY(h->waitFor([&] { return !vm->isPaused(); }));
    }

private Q_SLOTS:
    void init()
    {
        h = std::make_unique<ControllerHarness>();
        QVERIFY(h->start());
        vm = h->build();
        h->expectSession(kSession);
        QVERIFY(h->startLive());
    }
    void cleanup() { h.reset(); }

    void labelFormat_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("label");
        QTest::newRow("fraction cut off") << 59.9 << "00:59";
        QTest::newRow("minutes") << 70.0 << "01:10";
        QTest::newRow("last two-field") << 3599.99 << "59:59";
        QTest::newRow("hour, no leading zero") << 3600.0 << "1:00:00";
        QTest::newRow("ten hours") << 36061.0 << "10:01:01";
        QTest::newRow("negative") << -5.0 << "00:00";
        QTest::newRow("not a number") << std::nan("") << "00:00";
    }
    void labelFormat()
    {
        QFETCH(double, seconds);
        QFETCH(QString, label);
        QCOMPARE(pauseDurationLabel(seconds), label);
    }

    // While paused the captured audio goes out as zeros of the same length and the keep-alive
    // keeps feeding the stream; after the resume the speech is on the wire again.
    void pausedAudioIsSilenceAndResumeUnmutes()
    {
        h->speak(ControllerHarness::testChunk(1));
        QVERIFY(h->waitAudioChunks(1));
        vm->pauseRecording();
        QCOMPARE(vm->statusText(), QStringLiteral("Tauolla"));
        QVERIFY(!vm->canPause());
        h->speak(ControllerHarness::testChunk(2));
        QVERIFY(h->waitAudioChunks(2));
        QCOMPARE(h->audioReceived().at(1).size(), 3200);
        QVERIFY(allZero(h->audioReceived().at(1)));
        // Nothing captured for a while: the keep-alive alone keeps the stream fed.
        h->advance(1000ms);
        QVERIFY(h->waitAudioChunks(3));
        QVERIFY(allZero(h->audioReceived().at(2)));
        QVERIFY(h->stream.connection().clientCloseCode == std::nullopt);

        resumeAndConfirm();
        QCOMPARE(vm->pauseElapsedLabel(), QString());
        QVERIFY(vm->canPause());
        const int sent = h->audioReceived().size();
        h->speak(ControllerHarness::testChunk(3));
        QVERIFY(h->waitAudioChunks(sent + 1));
        QCOMPARE(h->audioReceived().last(), ControllerHarness::testChunk(3));
    }

    // The label counts the total paused time of the recording, not only the current pause, and
    // a new recording starts again from zero.
    void labelAddsUpPausesAndRestartsWithARecording()
    {
        vm->pauseRecording();
        QCOMPARE(vm->pauseElapsedLabel(), QStringLiteral("00:00"));
        h->advance(70s);
        QCOMPARE(vm->pauseElapsedLabel(), QStringLiteral("01:10"));
        resumeAndConfirm();
        h->advance(30s);
        vm->pauseRecording();
        QCOMPARE(vm->pauseElapsedLabel(), QStringLiteral("01:10"));
        h->advance(5s);
        QCOMPARE(vm->pauseElapsedLabel(), QStringLiteral("01:15"));

        QVERIFY(h->stopAndFinish());
        QCOMPARE(vm->pauseElapsedLabel(), QString());
        h->expectSession(QStringLiteral("rec-2"));
        QVERIFY(h->startLive());
        vm->pauseRecording();
        h->advance(5s);
        QCOMPARE(vm->pauseElapsedLabel(), QStringLiteral("00:05"));
    }

    void actionsOutOfStateDoNothing()
    {
        vm->resumeRecording();
        QVERIFY(!vm->isResumingRecording());
        QVERIFY(!vm->isPaused());
        vm->pauseRecording();
        h->backend.enqueue("GET", kMetaPath, ScriptedResponse::silence());
        vm->resumeRecording();
        QVERIFY(vm->isResumingRecording());
        // Pausing or resuming again while the resume waits changes nothing.
        vm->pauseRecording();
        vm->resumeRecording();
        QVERIFY(vm->isResumingRecording());
        QCOMPARE(vm->statusText(), QStringLiteral("Jatketaan..."));
    }

    // The backend check outlasts the 12 s guard: the recording stays paused and resumable, and
    // the late answer changes nothing.
    void resumeTimesOutAndTheLateAnswerIsIgnored()
    {
        vm->pauseRecording();
        h->backend.enqueue("GET", kMetaPath, ScriptedResponse::silence());
        vm->resumeRecording();
        QVERIFY(h->waitFor([&] { return h->backend.heldCount() == 1; }));
        h->advance(11999ms);
        QVERIFY(vm->isResumingRecording());
        h->advance(1ms);
        QVERIFY(!vm->isResumingRecording());
        QVERIFY(vm->isPaused());
        QVERIFY(vm->canResume());
        QCOMPARE(vm->statusText(), QStringLiteral("Jatkaminen aikakatkaistiin"));

        const int before = h->answersTo(kMetaPath);
        QVERIFY(h->backend.answerHeld(ScriptedResponse::json(200, R"({"status":"active"})")));
        QVERIFY(h->waitAnswers(kMetaPath, before + 1));
        QCoreApplication::processEvents();
        QVERIFY(vm->isPaused());
        QCOMPARE(vm->statusText(), QStringLiteral("Jatkaminen aikakatkaistiin"));

        // It can be resumed again afterwards.
        resumeAndConfirm();
        QVERIFY(vm->isRecording());
    }

    // A stop while the resume waits wins; the late answer neither revives the recording nor
    // fires the time-out text.
    void stopDuringResumeWins()
    {
        vm->pauseRecording();
        h->backend.enqueue("GET", kMetaPath, ScriptedResponse::silence());
        vm->resumeRecording();
        QVERIFY(h->waitFor([&] { return h->backend.heldCount() == 1; }));
        QVERIFY(h->stopAndFinish());
        QVERIFY(h->backend.answerHeld(ScriptedResponse::json(200, R"({"status":"active"})")));
        h->advance(13s);
        QVERIFY(!vm->isRecording());
        QVERIFY(!vm->isPaused());
        QVERIFY(vm->statusText() != QStringLiteral("Jatkaminen aikakatkaistiin"));
    }

    // The backend ended the session during the pause: the resume becomes a remote stop that
    // keeps the text and does not call the backend's stop.
    void resumeFindsTheSessionEnded()
    {
        vm->pauseRecording();
        h->setServerMeta(kSession, R"({"status":"stopped"})");
        vm->resumeRecording();
        QVERIFY(h->waitFor([&] { return !vm->isRecording(); }));
        QCOMPARE(vm->statusText(), QStringLiteral("Sessio sulkeutui tauon aikana"));
        QVERIFY(h->waitStopFinished());
        QVERIFY(h->requests("POST", "/v1/sessions/rec-1/stop").isEmpty());
    }
};

VERNALO_TEST_MAIN(ViewModelPauseTest)
#include "test_view_model_pause.moc"
