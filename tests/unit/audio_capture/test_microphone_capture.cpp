#include "audio/microphone_capture.h"
#include "foundation/app_log.h"
#include "support/fake_audio_system.h"
#include "support/test_environment.h"
#include "support/tone_analysis.h"

#include <QtTest>

using namespace vernalo;
using vernalo::test::FakeAudioSystem;
using vernalo::test::sineFrames;

namespace {

qsizetype logSize()
{
    return AppLog::snapshot(1 << 22).size();
}
QString logSince(qsizetype offset)
{
    return AppLog::snapshot(1 << 22).mid(offset);
}

// Three microphones: a Bluetooth headset (id 1, the server default), a USB microphone (2) and
// the built-in one (3).
void addTypicalDevices(FakeAudioSystem &audio)
{
    audio.addSource(1, QStringLiteral("Travel Headset"), QStringLiteral("bluetooth"),
                    QStringLiteral("headset"));
    audio.addSource(2, QStringLiteral("Desk USB"), QStringLiteral("usb"));
    audio.addSource(3, QStringLiteral("Front Mic"), QStringLiteral("pci"));
    audio.defaultSourceId = 1;
}

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
        QTest::newRow("48 kHz stereo float, 2048 frames")
            << 48000.0 << 2 << 2048 << 7 << int(SampleFormat::Float32);
        QTest::newRow("44.1 kHz mono s16") << 44100.0 << 1 << 2048 << 9 << int(SampleFormat::Int16);
        QTest::newRow("tiny buffers") << 48000.0 << 1 << 3 << 4000 << int(SampleFormat::Float32);
        QTest::newRow("one buffer makes several chunks")
            << 16000.0 << 1 << 8000 << 2 << int(SampleFormat::Int16);
    }
    void chunksCarryEveryByteInOrder()
    {
        QFETCH(double, rate);
        QFETCH(int, channels);
        QFETCH(int, framesPerBuffer);
        QFETCH(int, buffers);
        QFETCH(int, format);
        FakeAudioSystem audio;
        addTypicalDevices(audio);
        MicrophoneCapture capture(&audio);
        QList<QByteArray> chunks;
        QObject::connect(&capture, &MicrophoneCapture::chunkReady,
                         [&](const QByteArray &chunk) { chunks.append(chunk); });
        capture.start();

        QByteArray expected;
        for (int i = 0; i < buffers; ++i) {
            const RawAudioFrames frames =
                sineFrames(330.0 + i, 0.6, rate, channels, framesPerBuffer, SampleFormat(format),
                           true, qint64(i) * framesPerBuffer);
            expected += convertToPCM16(frames);
            audio.lastStream()->deliver(frames);
        }
        QCOMPARE(chunks.size(), int(expected.size() / 3200));
        QByteArray received;
        for (const QByteArray &chunk : std::as_const(chunks)) {
            QCOMPARE(chunk.size(), 3200);
            received += chunk;
        }
        QCOMPARE(received, expected.left(received.size()));
    }

    void stopDiscardsThePartialChunk()
    {
        FakeAudioSystem audio;
        addTypicalDevices(audio);
        MicrophoneCapture capture(&audio);
        QList<QByteArray> chunks;
        QObject::connect(&capture, &MicrophoneCapture::chunkReady,
                         [&](const QByteArray &chunk) { chunks.append(chunk); });
        capture.start();
        // 2000 bytes wait in the capture...
        audio.lastStream()->deliver(sineFrames(440, 0.5, 16000, 1, 1000, SampleFormat::Int16));
        capture.stop();
        QCOMPARE(capture.activeInputDeviceName(), QString());
        capture.start();
        // ...and must not be glued to the next recording's audio.
        const RawAudioFrames fresh = sineFrames(880, 0.5, 16000, 1, 1600, SampleFormat::Int16);
        audio.lastStream()->deliver(fresh);
        QCOMPARE(chunks.size(), 1);
        QCOMPARE(chunks.first(), convertToPCM16(fresh));
    }

    // A restart replaces the stream; the old one never delivers into the new capture.
    void restartClosesThePreviousStream()
    {
        FakeAudioSystem audio;
        addTypicalDevices(audio);
        MicrophoneCapture capture(&audio);
        int chunks = 0;
        QObject::connect(&capture, &MicrophoneCapture::chunkReady,
                         [&](const QByteArray &) { ++chunks; });
        capture.start();
        QPointer<test::FakeCaptureStream> first = audio.lastStream();
        capture.start();
        QCOMPARE(audio.openStreams().size(), 1);
        QVERIFY(!first || first->isClosed());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!first); // released, not leaked
        audio.lastStream()->deliver(sineFrames(440, 0.5, 16000, 1, 1600, SampleFormat::Int16));
        QCOMPARE(chunks, 1);
    }

    // The controller may stop the capture from inside the chunk callback.
    void callbackMayStopTheCapture()
    {
        FakeAudioSystem audio;
        addTypicalDevices(audio);
        MicrophoneCapture capture(&audio);
        int chunks = 0;
        QObject::connect(&capture, &MicrophoneCapture::chunkReady, [&](const QByteArray &) {
            ++chunks;
            capture.stop();
        });
        capture.start();
        audio.lastStream()->deliver(sineFrames(440, 0.5, 16000, 1, 8000, SampleFormat::Int16));
        QCOMPARE(chunks, 1);
        QVERIFY(!capture.isRunning());
        QVERIFY(audio.openStreams().isEmpty());
    }

    void deviceChoiceOnStart_data()
    {
        QTest::addColumn<quint32>("preferred");
        QTest::addColumn<QList<quint32>>("failing");
        QTest::addColumn<quint32>("expectedOpen");
        QTest::addColumn<QString>("expectedName");
        QTest::newRow("headset preferred: built-in opened")
            << 1u << QList<quint32> {} << 3u << "Front Mic";
        QTest::newRow("usb preferred: opened as chosen")
            << 2u << QList<quint32> {} << 2u << "Desk USB";
        QTest::newRow("no preference: built-in") << 0u << QList<quint32> {} << 3u << "Front Mic";
        // Opening the pick fails: carry on with the system default input.
        QTest::newRow("pick fails: default") << 2u << QList<quint32> {2} << 1u << "Travel Headset";
    }
    void deviceChoiceOnStart()
    {
        QFETCH(quint32, preferred);
        QFETCH(QList<quint32>, failing);
        QFETCH(quint32, expectedOpen);
        FakeAudioSystem audio;
        addTypicalDevices(audio);
        for (quint32 id : failing)
            audio.failingSources.insert(
                id, {QStringLiteral("pulse"), 3, QStringLiteral("Access denied")});
        MicrophoneCapture capture(&audio);
        capture.setPreferredInputDeviceID(preferred);
        capture.start();
        QCOMPARE(audio.openStreams().size(), 1);
        QCOMPARE(audio.openStreams().first()->target().kind, CaptureTarget::Kind::Source);
        QCOMPARE(audio.openStreams().first()->target().sourceId, expectedOpen);
        QTEST(capture.activeInputDeviceName(), "expectedName");
    }

    void startFailures_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<bool>("onlyMonitor");
        QTest::addColumn<bool>("allFail");
        QTest::newRow("no server") << false << false << false;
        QTest::newRow("no microphone, default is a monitor") << true << true << false;
        QTest::newRow("every device fails to open") << true << false << true;
    }
    void startFailures()
    {
        QFETCH(bool, reachable);
        QFETCH(bool, onlyMonitor);
        QFETCH(bool, allFail);
        FakeAudioSystem audio;
        if (onlyMonitor) {
            audio.addSource(9, QStringLiteral("Monitor of Speakers"), {}, {},
                            QStringLiteral("monitor"));
            audio.defaultSourceId = 9;
        } else {
            addTypicalDevices(audio);
        }
        audio.reachable = reachable;
        if (allFail) {
            for (quint32 id : {1u, 2u, 3u})
                audio.failingSources.insert(
                    id, {QStringLiteral("pulse"), 3, QStringLiteral("Access denied")});
        }
        MicrophoneCapture capture(&audio);
        try {
            capture.start();
            QFAIL("start succeeded");
        } catch (const MicrophoneCaptureError &error) {
            QCOMPARE(error.kind(), MicrophoneCaptureError::Kind::EngineNotReady);
            QCOMPARE(error.errorDescription(), QStringLiteral("Audio engine ei ole käyttövalmis"));
        }
        QVERIFY(!capture.isRunning());
        QVERIFY(audio.openStreams().isEmpty());
        for (const CaptureTarget &target : std::as_const(audio.openRequests))
            QVERIFY(target.sourceId != 9); // a monitor is never opened as a microphone
    }

    void streamEndReportsTheErrorOnce()
    {
        FakeAudioSystem audio;
        addTypicalDevices(audio);
        MicrophoneCapture capture(&audio);
        QList<AudioServerError> errors;
        int chunks = 0;
        QObject::connect(&capture, &MicrophoneCapture::captureEnded,
                         [&](const AudioServerError &error) { errors.append(error); });
        QObject::connect(&capture, &MicrophoneCapture::chunkReady,
                         [&](const QByteArray &) { ++chunks; });
        capture.start();
        auto *stream = audio.lastStream();
        stream->deliver(sineFrames(440, 0.5, 16000, 1, 1000, SampleFormat::Int16));
        const qsizetype before = logSize();
        stream->endWith({QStringLiteral("pulse"), 12, QStringLiteral("Entity killed")});
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.first().code, 12);
        QVERIFY(!capture.isRunning());
        QVERIFY(logSince(before).contains(
            QStringLiteral("microphone capture stopped device=Front Mic error=domain=pulse code=12 "
                           "desc=Entity killed")));
        // The pending 2000 bytes went with the stream.
        capture.start();
        audio.lastStream()->deliver(sineFrames(440, 0.5, 16000, 1, 700, SampleFormat::Int16));
        QCOMPARE(chunks, 0);
    }

    void unsupportedBuffersAreDropped()
    {
        FakeAudioSystem audio;
        addTypicalDevices(audio);
        MicrophoneCapture capture(&audio);
        int chunks = 0;
        QObject::connect(&capture, &MicrophoneCapture::chunkReady,
                         [&](const QByteArray &) { ++chunks; });
        capture.start();
        RawAudioFrames odd;
        odd.format = SampleFormat::Unsupported;
        odd.bytes = QByteArray(9600, '\x11');
        audio.lastStream()->deliver(odd);
        QCOMPARE(chunks, 0);
        audio.lastStream()->deliver(sineFrames(440, 0.5, 16000, 1, 1600, SampleFormat::Int16));
        QCOMPARE(chunks, 1);
    }

    void deviceQueries()
    {
        FakeAudioSystem audio;
        addTypicalDevices(audio);
        audio.addSource(8, QStringLiteral("Monitor of Speakers"), {}, {},
                        QStringLiteral("monitor"));
        MicrophoneCapture capture(&audio);
        const auto listed = capture.listAvailableInputDevices();
        QCOMPARE(listed.size(), 3);
        audio.reachable = false;
        QVERIFY(capture.listAvailableInputDevices().isEmpty());
    }

    void permission_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<bool>("openSettings");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("server reachable") << true << "Mikrofonioikeus: sallittu" << true << false
                                          << "microphone permission pulse=reachable "
                                             "bundleId=com.kestrova.vernalo hasUsageDesc=true";
        QTest::newRow("no server")
            << false << "Mikrofonioikeus: estetty (avaa ääniasetukset)" << false << true
            << "microphone permission post-request pulse=unreachable";
    }
    void permission()
    {
        QFETCH(bool, reachable);
        QFETCH(bool, granted);
        QFETCH(QString, logLine);
        FakeAudioSystem audio;
        audio.reachable = reachable;
        MicrophoneCapture capture(&audio);
        const MicrophonePermissionSnapshot snapshot = capture.permissionSnapshot();
        QTEST(snapshot.summaryText, "summary");
        QCOMPARE(snapshot.isGranted, granted);
        QTEST(snapshot.shouldOpenSystemSettings, "openSettings");
        QVERIFY(snapshot.detailText.startsWith(
            reachable ? QStringLiteral("pulse=reachable, server=fake 1.0")
                      : QStringLiteral("pulse=unreachable, error=Connection refused")));
        const qsizetype before = logSize();
        QCOMPARE(QCoro::waitFor(capture.requestPermission()), granted);
        QVERIFY2(logSince(before).contains(logLine), qPrintable(logSince(before)));
    }
};

VERNALO_TEST_MAIN(MicrophoneCaptureTest)
#include "test_microphone_capture.moc"
