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
    void levelFollowsTalkAndPauses_data()
    {
        QTest::addColumn<int>("voice");
        QTest::addColumn<int>("fromMs");
        QTest::addColumn<int>("ms");
        QTest::addColumn<double>("minLevel");
        QTest::addColumn<double>("maxLevel");
        // 0.005 is where the reference recognizer counts audio as speech.
        // clang-format off
        QTest::newRow("first phrase") << int(Voice::Speech) << 0 << 1000 << 0.005 << 0.2;
        QTest::newRow("pause between phrases") << int(Voice::Speech) << 1850 << 500 << 0.0 << 0.0;
        QTest::newRow("background hum is quiet but present") << int(Voice::Background) << 0 << 1000 << 0.005 << 0.02;
        // clang-format on
    }

    void levelFollowsTalkAndPauses()
    {
        QFETCH(int, voice);
        QFETCH(int, fromMs);
        QFETCH(int, ms);
        QFETCH(double, minLevel);
        QFETCH(double, maxLevel);
        const QByteArray pcm =
            SyntheticCaptureStream::render(static_cast<Voice>(voice), fromMs * kPerMs, ms);
        QCOMPARE(pcm.size(), ms * kPerMs * 2);
        const double level = estimatePCM16Level(pcm);
        QVERIFY2(level >= minLevel && level <= maxLevel, qPrintable(QString::number(level)));
    }

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

        opened.stream->close();
        clock.advance(1000ms);
        QCOMPARE(deliveries, 10);
    }
};

VERNALO_TEST_MAIN(DemoAudioSystemTest)

#include "test_demo_audio_system.moc"
