#include "recording/recording_monitor.h"
#include "recording/transcription_view_model.h"
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QSignalSpy>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

// The glance read-outs of a live recording: elapsed time without the pauses, and the notice
// that a recording ended without the stop button.
class RecordingMonitorTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void elapsedLeavesPausesOut()
    {
        ControllerHarness h;
        QVERIFY(h.start());
        TranscriptionViewModel *vm = h.build();
        h.expectSession(QStringLiteral("rec-1"));
        RecordingMonitor monitor(vm, &h.clock);
        QCOMPARE(monitor.elapsedLabel(), QString());
        QVERIFY(h.startLive());
        h.advance(65s);
        QCOMPARE(monitor.elapsedLabel(), QStringLiteral("01:05"));
        vm->pauseRecording();
        h.advance(30s);
        QCOMPARE(monitor.elapsedLabel(), QStringLiteral("01:05"));
        QVERIFY(h.stopAndFinish());
        QCOMPARE(monitor.elapsedLabel(), QString());
    }

    void onlyAStopFromOutsideIsReported_data()
    {
        QTest::addColumn<bool>("byUser");
        QTest::addColumn<int>("reports");
        QTest::newRow("stop button") << true << 0;
        QTest::newRow("server stopped the stream") << false << 1;
    }

    void onlyAStopFromOutsideIsReported()
    {
        QFETCH(bool, byUser);
        QFETCH(int, reports);
        ControllerHarness h;
        QVERIFY(h.start());
        TranscriptionViewModel *vm = h.build();
        h.expectSession(QStringLiteral("rec-1"));
        RecordingMonitor monitor(vm, &h.clock);
        QSignalSpy ended(&monitor, &RecordingMonitor::endedByItself);
        QVERIFY(h.startLive());
        if (byUser) {
            QVERIFY(h.stopAndFinish());
        } else {
            h.sendEvent(R"({"type":"status","state":"stopped"})");
            QVERIFY(h.waitFor([vm] { return !vm->isRecording(); }));
        }
        QCOMPARE(ended.count(), reports);
        if (reports)
            QCOMPARE(ended.first().first().toString(), QStringLiteral("Yhteys katkesi"));
    }
};

VERNALO_TEST_MAIN(RecordingMonitorTest)
#include "test_recording_monitor.moc"
