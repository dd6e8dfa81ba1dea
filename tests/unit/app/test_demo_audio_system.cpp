#include "demo_audio_system.h"
#include "support/fake_clock.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

// The synthetic voice the screenshot tour records: it has to reach the recognizer's speech
// threshold while talking, fall silent between phrases, keep pace with the clock and stop when
// the capture is closed.
class DemoAudioSystemTest : public QObject
{
    Q_OBJECT
private:
    using Voice = SyntheticCaptureStream::Voice;

    // Samples per millisecond of the 16 kHz output.
    static constexpr qint64 kPerMs = SyntheticCaptureStream::kSampleRate / 1000;

private Q_SLOTS:
    void streamKeepsPaceWithTheClockAndStopsWhenClosed()
    {
        FakeClock clock;
        DemoAudioSystem audio(&clock);
        const AudioSourceList sources = audio.listSources();
        QCOMPARE(sources.sources.size(), 1);
        QCOMPARE(sources.defaultSourceId, std::optional<quint32>(sources.sources.first().id));

        CaptureOpenResult opened =
            audio.openCapture(CaptureTarget::source(sources.sources.first().id, 1024));
        QVERIFY(opened.stream);
        QByteArray received;
        int deliveries = 0;
        connect(opened.stream.get(), &AudioCaptureStream::framesArrived, this,
                [&](const RawAudioFrames &frames) {
                    ++deliveries;
                    QCOMPARE(frames.format, SampleFormat::Int16);
                    QCOMPARE(frames.sampleRate, 16000.0);
                    QCOMPARE(frames.channels, 1);
                    received += frames.bytes;
                });
        clock.advance(1000ms);
        QCOMPARE(deliveries, 10);
        // One continuous signal: no repeated or skipped piece between deliveries.
        QCOMPARE(received, SyntheticCaptureStream::render(Voice::Speech, 0, 1000));
        // The first phrase is speech to the reference recognizer (level 0.005); the pause after
        // it is silent.
        QVERIFY(estimatePCM16Level(received) >= 0.005);
        QCOMPARE(
            estimatePCM16Level(SyntheticCaptureStream::render(Voice::Speech, 1850 * kPerMs, 500)),
            0.0);

        opened.stream->close();
        clock.advance(1000ms);
        QCOMPARE(deliveries, 10);
    }
};

VERNALO_TEST_MAIN(DemoAudioSystemTest)

#include "test_demo_audio_system.moc"
