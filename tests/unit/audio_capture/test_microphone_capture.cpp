#include "audio/microphone_capture.h"
#include "support/fake_audio_system.h"
#include "support/test_environment.h"
#include "support/tone_analysis.h"

#include <QtTest>

using namespace vernalo;
using vernalo::test::FakeAudioSystem;
using vernalo::test::sineFrames;

namespace {

RawAudioFrames pcm16kFrames(int frames, double frequency = 440)
{
    return sineFrames(frequency, 0.5, 16000, 1, frames, SampleFormat::Int16);
}

// Three microphones: a Bluetooth headset (id 1, the server default), a USB microphone (2) and
// the built-in one (3); the chunks the capture sends are kept.
struct Harness
{
    FakeAudioSystem audio;
    MicrophoneCapture capture {&audio};
    QList<QByteArray> chunks;

    Harness()
    {
        audio.addSource(1, QStringLiteral("Travel Headset"), QStringLiteral("bluetooth"),
                        QStringLiteral("headset"));
        audio.addSource(2, QStringLiteral("Desk USB"), QStringLiteral("usb"));
        audio.addSource(3, QStringLiteral("Front Mic"), QStringLiteral("pci"));
        audio.defaultSourceId = 1;
        QObject::connect(&capture, &MicrophoneCapture::chunkReady,
                         [this](const QByteArray &chunk) { chunks.append(chunk); });
    }
    void deliver(const RawAudioFrames &frames) { audio.lastStream()->deliver(frames); }
};

} // namespace

class MicrophoneCaptureTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Every converted byte leaves exactly once, in order, in 3200-byte chunks; the rest waits.
    void chunksCarryEveryByteInOrder_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("framesPerBuffer");
        QTest::addColumn<int>("buffers");
        QTest::addColumn<int>("format");
        // clang-format off
        QTest::newRow("48 kHz stereo float, 2048 frames") << 48000.0 << 2 << 2048 << 7 << int(SampleFormat::Float32);
        QTest::newRow("44.1 kHz mono s16") << 44100.0 << 1 << 2048 << 9 << int(SampleFormat::Int16);
        QTest::newRow("tiny buffers") << 48000.0 << 1 << 3 << 4000 << int(SampleFormat::Float32);
        QTest::newRow("one buffer makes several chunks") << 16000.0 << 1 << 8000 << 2 << int(SampleFormat::Int16);
        // clang-format on
    }
    void chunksCarryEveryByteInOrder()
    {
        QFETCH(double, rate);
        QFETCH(int, channels);
        QFETCH(int, framesPerBuffer);
        QFETCH(int, buffers);
        QFETCH(int, format);
        Harness h;
        h.capture.start();
        QByteArray expected;
        for (int i = 0; i < buffers; ++i) {
            const RawAudioFrames frames =
                sineFrames(330.0 + i, 0.6, rate, channels, framesPerBuffer, SampleFormat(format),
                           true, qint64(i) * framesPerBuffer);
            expected += convertToPCM16(frames);
            h.deliver(frames);
        }
        QCOMPARE(h.chunks.size(), int(expected.size() / 3200));
        QByteArray received;
        for (const QByteArray &chunk : std::as_const(h.chunks)) {
            QCOMPARE(chunk.size(), 3200);
            received += chunk;
        }
        QCOMPARE(received, expected.left(received.size()));
    }

    // A partial chunk goes with its stream, ended by a stop or by the server (reported once),
    // and is never glued to the next recording's audio.
    void partialChunkEndsWithTheStream_data()
    {
        QTest::addColumn<bool>("serverEnds");
        // clang-format off
        QTest::newRow("stop") << false;
        QTest::newRow("server ends the stream") << true;
        // clang-format on
    }
    void partialChunkEndsWithTheStream()
    {
        QFETCH(bool, serverEnds);
        Harness h;
        QList<int> errors;
        QObject::connect(&h.capture, &MicrophoneCapture::captureEnded,
                         [&](const AudioServerError &error) { errors.append(error.code); });
        h.capture.start();
        h.deliver(pcm16kFrames(1000)); // 2000 bytes wait in the capture
        if (serverEnds)
            h.audio.lastStream()->endWith({QStringLiteral("pulse"), 12, QStringLiteral("killed")});
        else
            h.capture.stop();
        QCOMPARE(errors, serverEnds ? QList {12} : QList<int> {});
        QVERIFY(!h.capture.isRunning());
        h.capture.start();
        const RawAudioFrames fresh = pcm16kFrames(1600, 880);
        h.deliver(fresh);
        QCOMPARE(h.chunks, QList {convertToPCM16(fresh)});
    }

    // A restart replaces the stream; the old one never delivers into the new capture.
    void restartClosesThePreviousStream()
    {
        Harness h;
        h.capture.start();
        QPointer<test::FakeCaptureStream> first = h.audio.lastStream();
        h.capture.start();
        QCOMPARE(h.audio.openStreams().size(), 1);
        QVERIFY(!first || first->isClosed());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!first); // released, not leaked
        h.deliver(pcm16kFrames(1600));
        QCOMPARE(h.chunks.size(), 1);
    }

    // The controller may stop the capture from inside the chunk callback.
    void callbackMayStopTheCapture()
    {
        Harness h;
        QObject::connect(&h.capture, &MicrophoneCapture::chunkReady, [&] { h.capture.stop(); });
        h.capture.start();
        h.deliver(pcm16kFrames(8000));
        QCOMPARE(h.chunks.size(), 1);
        QVERIFY(!h.capture.isRunning());
        QVERIFY(h.audio.openStreams().isEmpty());
    }

    void deviceChoiceOnStart_data()
    {
        QTest::addColumn<quint32>("preferred");
        QTest::addColumn<bool>("pickFails");
        QTest::addColumn<quint32>("expectedOpen");
        QTest::addColumn<QString>("expectedName");
        // clang-format off
        QTest::newRow("headset preferred: built-in opened") << 1u << false << 3u << "Front Mic";
        QTest::newRow("usb preferred: opened as chosen") << 2u << false << 2u << "Desk USB";
        QTest::newRow("no preference: built-in") << 0u << false << 3u << "Front Mic";
        // Opening the pick fails: carry on with the system default input.
        QTest::newRow("pick fails: default") << 2u << true << 1u << "Travel Headset";
        // clang-format on
    }
    void deviceChoiceOnStart()
    {
        QFETCH(quint32, preferred);
        QFETCH(bool, pickFails);
        Harness h;
        if (pickFails)
            h.audio.failingSources.insert(preferred, {QStringLiteral("pulse"), 3, QString()});
        h.capture.setPreferredInputDeviceID(preferred);
        h.capture.start();
        QCOMPARE(h.audio.openStreams().size(), 1);
        QCOMPARE(h.audio.openStreams().first()->target().kind, CaptureTarget::Kind::Source);
        QTEST(h.audio.openStreams().first()->target().sourceId, "expectedOpen");
        QTEST(h.capture.activeInputDeviceName(), "expectedName");
    }

    void startFailures_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<bool>("onlyMonitor");
        QTest::addColumn<bool>("allFail");
        // clang-format off
        QTest::newRow("no server") << false << false << false;
        QTest::newRow("no microphone, default is a monitor") << true << true << false;
        QTest::newRow("every device fails to open") << true << false << true;
        // clang-format on
    }
    void startFailures()
    {
        QFETCH(bool, reachable);
        QFETCH(bool, onlyMonitor);
        QFETCH(bool, allFail);
        Harness h;
        if (onlyMonitor) {
            h.audio.sources.clear();
            h.audio.addSource(9, QStringLiteral("Monitor of Speakers"), {}, {},
                              QStringLiteral("monitor"));
            h.audio.defaultSourceId = 9;
        }
        h.audio.reachable = reachable;
        for (quint32 id : {1u, 2u, 3u}) {
            if (allFail)
                h.audio.failingSources.insert(id, {QStringLiteral("pulse"), 3, QString()});
        }
        try {
            h.capture.start();
            QFAIL("start succeeded");
        } catch (const MicrophoneCaptureError &error) {
            QCOMPARE(error.kind(), MicrophoneCaptureError::Kind::EngineNotReady);
        }
        QVERIFY(!h.capture.isRunning());
        QVERIFY(h.audio.openStreams().isEmpty());
        for (const CaptureTarget &target : std::as_const(h.audio.openRequests))
            QVERIFY(target.sourceId != 9); // a monitor is never opened as a microphone
    }
};

VERNALO_TEST_MAIN(MicrophoneCaptureTest)
#include "test_microphone_capture.moc"
