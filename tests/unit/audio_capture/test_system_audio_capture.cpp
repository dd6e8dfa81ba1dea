#include "audio/running_processes.h"
#include "audio/system_audio_capture.h"
#include "support/fake_audio_system.h"
#include "support/fake_clock.h"
#include "support/test_environment.h"
#include "support/tone_analysis.h"

#include <numeric>
#include <QtTest>

using namespace vernalo;
using namespace std::chrono_literals;
using vernalo::test::FakeAudioSystem;
using vernalo::test::FakeClock;
using vernalo::test::sineFrames;

namespace {

// 16 kHz mono frames convert one to one: n samples in, 2n bytes out.
RawAudioFrames pcmBytes(int bytes, qint64 start = 0)
{
    return sineFrames(300.0, 0.4, 16000, 1, bytes / 2, SampleFormat::Int16, true, start);
}

struct Harness
{
    FakeAudioSystem audio;
    FakeClock clock;
    SystemAudioCapture capture {&audio, &clock};
    QList<QByteArray> chunks;
    int rawSamples = 0;

    Harness()
    {
        QObject::connect(&capture, &SystemAudioCapture::chunkReady,
                         [this](const QByteArray &chunk) { chunks.append(chunk); });
        QObject::connect(&capture, &SystemAudioCapture::rawSampleArrived, [this] { ++rawSamples; });
    }
    QList<int> sizes() const
    {
        QList<int> out;
        for (const QByteArray &chunk : chunks)
            out.append(int(chunk.size()));
        return out;
    }
};

} // namespace

class SystemAudioCaptureTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Each step: wait so many ms, then deliver so many converted bytes.
    void flushRules_data()
    {
        QTest::addColumn<QList<int>>("waitMs");
        QTest::addColumn<QList<int>>("bytes");
        QTest::addColumn<QList<int>>("expectedChunks");

        // clang-format off
        QTest::newRow("first buffer leaves at once, then full chunks")
            << QList {0, 21, 21, 21, 21, 21} << QList {682, 682, 682, 682, 682, 682}
            << QList {682, 3200};
        QTest::newRow("a slow trickle leaves after 0.18 s") << QList {0, 10, 200} << QList {3200, 400, 300} << QList {3200, 700};
        QTest::newRow("600 bytes never leave alone") << QList {0, 500, 500} << QList {3200, 600, 0} << QList {3200};
        QTest::newRow("exactly 0.18 s and 640 bytes") << QList {0, 180} << QList {3200, 640} << QList {3200, 640};
        QTest::newRow("0.179 s is too early") << QList {0, 179} << QList {3200, 640} << QList {3200};
        QTest::newRow("a large buffer: full chunks, then the remainder waits") << QList {0, 0} << QList {640, 7000} << QList {640, 3200, 3200};
        QTest::newRow("the remainder goes out with the next late buffer") << QList {0, 0, 300} << QList {640, 7000, 40} << QList {640, 3200, 3200, 640};
        // clang-format on
    }
    void flushRules()
    {
        QFETCH(QList<int>, waitMs);
        QFETCH(QList<int>, bytes);
        Harness h;
        h.capture.start();
        QByteArray expected;
        qint64 position = 0;
        for (int i = 0; i < bytes.size(); ++i) {
            h.clock.advance(std::chrono::milliseconds(waitMs[i]));
            if (bytes[i] == 0)
                continue;
            const RawAudioFrames frames = pcmBytes(bytes[i], position);
            position += bytes[i] / 2;
            expected += convertToPCM16(frames);
            h.audio.lastStream()->deliver(frames);
        }
        QTEST(h.sizes(), "expectedChunks");
        // Nothing lost, nothing repeated, nothing reordered.
        const QByteArray received = h.chunks.isEmpty()
            ? QByteArray()
            : std::accumulate(h.chunks.begin(), h.chunks.end(), QByteArray());
        QCOMPARE(received, expected.left(received.size()));
        QCOMPARE(h.capture.emittedChunkCount(), h.chunks.size());
    }

    // Buffers in a format the capture cannot read are counted as raw audio, never sent; a
    // planar 48 kHz stereo float buffer leaves converted.
    void buffersCountedAndConverted()
    {
        Harness h;
        h.capture.start();
        RawAudioFrames odd;
        odd.format = SampleFormat::Unsupported;
        odd.bytes = QByteArray(6144, '\x01');
        for (int i = 0; i < 3; ++i)
            h.audio.lastStream()->deliver(odd);
        QVERIFY(h.chunks.isEmpty());
        QCOMPARE(h.capture.pcmFrameCount(), 0);
        const RawAudioFrames frames =
            sineFrames(500, 0.5, 48000, 2, 1024, SampleFormat::Float32, false);
        h.audio.lastStream()->deliver(frames);
        QCOMPARE(h.chunks, QList {convertToPCM16(frames)});
        QCOMPARE(h.capture.rawSampleCount(), 4);
        QCOMPARE(h.rawSamples, 4);
        QCOMPARE(h.capture.pcmFrameCount(), 1);
    }

    void startChoosesDisplayAndApplication_data()
    {
        QTest::addColumn<quint32>("preferredDisplay");
        QTest::addColumn<QString>("preferredApplication");
        QTest::addColumn<bool>("filtered"); // one application's streams, not all of them
        QTest::addColumn<QString>("expectedName");
        // clang-format off
        QTest::newRow("all applications of the first display") << 0u << "" << false << "Näyttö 1 • Kaikki sovellukset";
        QTest::newRow("preferred display") << 2u << "" << false << "Näyttö 2 • Kaikki sovellukset";
        QTest::newRow("preferred display gone: the first") << 9u << "" << false << "Näyttö 1 • Kaikki sovellukset";
        QTest::newRow("playing application") << 0u << "meet" << true << "Näyttö 1 • Meeting App";
        QTest::newRow("application not playing: everything") << 0u << "radio" << false << "Näyttö 1 • Kaikki sovellukset";
        QTest::newRow("running, not yet known to the server: that application, silent") << 0u << "late" << true << "Näyttö 1 • late";
        QTest::newRow("this process is never the filter") << 0u << "self" << false << "Näyttö 1 • Kaikki sovellukset";
        // clang-format on
    }
    void startChoosesDisplayAndApplication()
    {
        QFETCH(quint32, preferredDisplay);
        QFETCH(QString, preferredApplication);
        QFETCH(bool, filtered);
        Harness h;
        h.audio.displays = {{1, 1920, 1080}, {2, 2560, 1440}};
        h.audio.playbacks = {
            {QStringLiteral("meet"), QStringLiteral("Meeting App"), 300},
            {QStringLiteral("self"), QStringLiteral("Me"), QCoreApplication::applicationPid()}};
        h.capture.setPreferredDisplayID(preferredDisplay);
        h.capture.setPreferredApplicationBundleID(preferredApplication);
        h.capture.setProcessProbe([](const QString &binary) { return binary == u"late"; });
        h.capture.start();
        const CaptureTarget target = h.audio.lastStream()->target();
        QCOMPARE(target.kind,
                 filtered ? CaptureTarget::Kind::Application
                          : CaptureTarget::Kind::AllApplications);
        if (filtered)
            QCOMPARE(target.applicationId, preferredApplication);
        QTEST(h.capture.activeSourceName(), "expectedName");
    }

    void processesAreFoundByProgramName()
    {
        QTemporaryDir proc;
        QDir(proc.path()).mkpath(QStringLiteral("41"));
        QDir(proc.path()).mkpath(QStringLiteral("self"));
        const auto put = [&proc](const char *name, const QByteArray &bytes) {
            QFile file(proc.filePath(QLatin1String(name)));
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        QVERIFY(put("41/cmdline", QByteArray("/opt/late/late-meeting-client\0--flag\0", 37)));
        QVERIFY(put("41/comm", "late-meeting-cl\n"));
        QVERIFY(isProcessRunning(QStringLiteral("late-meeting-client"), proc.path()));
        for (const char *name : {"late", "--flag", "/opt/late/late-meeting-client"})
            QVERIFY2(!isProcessRunning(QLatin1String(name), proc.path()), name);
    }

    void startFailures_data()
    {
        QTest::addColumn<int>("failure"); // 0 no server, 1 no display, 2 stream does not open
        QTest::addColumn<int>("expectedKind");
        using K = SystemAudioCaptureError::Kind;
        // clang-format off
        QTest::newRow("no server") << 0 << int(K::PermissionDenied);
        QTest::newRow("no display") << 1 << int(K::NoDisplay);
        QTest::newRow("stream does not open") << 2 << int(K::StreamSetupFailed);
        // clang-format on
    }
    void startFailures()
    {
        QFETCH(int, failure);
        Harness h;
        h.audio.reachable = failure != 0;
        if (failure == 1)
            h.audio.displays.clear();
        if (failure == 2)
            h.audio.monitorFailure = AudioServerError {QStringLiteral("pulse"), 5, QString()};
        try {
            h.capture.start();
            QFAIL("start succeeded");
        } catch (const SystemAudioCaptureError &error) {
            QTEST(int(error.kind()), "expectedKind");
        }
        QVERIFY(!h.capture.isCapturing());
        QCOMPARE(h.capture.activeSourceName(), QString());
    }

    void stopResetsTheCapture()
    {
        Harness h;
        h.capture.start();
        h.audio.lastStream()->deliver(pcmBytes(1000));
        h.audio.lastStream()->deliver(pcmBytes(500)); // 500 bytes wait
        auto *stream = h.audio.lastStream();
        h.capture.stop();
        QVERIFY(stream->isClosed());
        QCOMPARE(h.capture.rawSampleCount(), 0);
        QCOMPARE(h.capture.emittedChunkCount(), 0);
        QCOMPARE(h.capture.activeSourceName(), QString());
        // A new capture starts empty and sends its first 640 bytes at once.
        h.chunks.clear();
        h.capture.start();
        h.audio.lastStream()->deliver(pcmBytes(640));
        QCOMPARE(h.sizes(), QList {640});
    }

    void callbacksMayStopTheCapture_data()
    {
        QTest::addColumn<bool>("fromRawCallback");
        // clang-format off
        QTest::newRow("from the chunk callback") << false;
        QTest::newRow("from the raw sample callback") << true;
        // clang-format on
    }
    void callbacksMayStopTheCapture()
    {
        QFETCH(bool, fromRawCallback);
        Harness h;
        // The harness records the chunks; this stops after it.
        if (fromRawCallback)
            QObject::connect(&h.capture, &SystemAudioCapture::rawSampleArrived,
                             [&] { h.capture.stop(); });
        else
            QObject::connect(&h.capture, &SystemAudioCapture::chunkReady,
                             [&] { h.capture.stop(); });
        h.capture.start();
        h.audio.lastStream()->deliver(pcmBytes(9600));
        QCOMPARE(h.chunks.size(), fromRawCallback ? 0 : 1);
        QVERIFY(!h.capture.isCapturing());
        QCOMPARE(h.capture.emittedChunkCount(), 0);
    }

    // The server may still be starting: the request probes again 350 ms later, three times;
    // the next request of the run answers at once.
    void permissionRequestRetries_data()
    {
        QTest::addColumn<int>("reachableAfterMs"); // -1: never
        QTest::addColumn<int>("answeredAtMs");
        // clang-format off
        QTest::newRow("server up before the second probe") << 350 << 700;
        QTest::newRow("never reachable") << -1 << 1050;
        // clang-format on
    }
    void permissionRequestRetries()
    {
        QFETCH(int, reachableAfterMs);
        QFETCH(int, answeredAtMs);
        Harness h;
        h.audio.reachable = false;
        auto request = h.capture.requestPermission();
        QVERIFY(!request.isReady());
        if (reachableAfterMs > 0) {
            h.clock.advance(std::chrono::milliseconds(reachableAfterMs));
            h.audio.reachable = true;
        }
        h.clock.advance(
            std::chrono::milliseconds(answeredAtMs - std::max(reachableAfterMs, 0) - 1));
        QVERIFY(!request.isReady());
        h.clock.advance(1ms);
        QVERIFY(request.isReady());
        const bool granted = reachableAfterMs >= 0;
        QCOMPARE(QCoro::waitFor(request), granted);
        QCOMPARE(h.clock.activeTimerCount(), 0);
        QVERIFY(h.capture.hasRequestedPermissionThisRun());
        auto again = h.capture.requestPermission();
        QVERIFY(again.isReady());
        QCOMPARE(QCoro::waitFor(again), granted);
    }

    // The capture is gone while the request waits: the request ends without touching it.
    void requestOutlivedByItsCapture()
    {
        FakeAudioSystem audio;
        audio.reachable = false;
        FakeClock clock;
        auto *capture = new SystemAudioCapture(&audio, &clock);
        auto request = capture->requestPermission();
        delete capture;
        clock.advance(350ms);
        QVERIFY(request.isReady());
        QVERIFY(!QCoro::waitFor(request));
    }
};

VERNALO_TEST_MAIN(SystemAudioCaptureTest)
#include "test_system_audio_capture.moc"
