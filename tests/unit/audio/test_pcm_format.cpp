#include "audio/pcm_format.h"
#include "audio/stream_resampler.h"
#include "support/test_environment.h"
#include "support/tone_analysis.h"

#include <cmath>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

RawAudioFrames floatFrames(const std::vector<float> &interleaved, int channels, double rate)
{
    RawAudioFrames frames;
    frames.bytes = QByteArray(reinterpret_cast<const char *>(interleaved.data()),
                              static_cast<qsizetype>(interleaved.size() * sizeof(float)));
    frames.format = SampleFormat::Float32;
    frames.channels = channels;
    frames.sampleRate = rate;
    return frames;
}

} // namespace

class PcmFormatTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void level_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<double>("expected");
        QTest::newRow("empty") << QByteArray() << 0.0;
        QTest::newRow("one byte") << QByteArray(1, '\x7f') << 0.0;
        QTest::newRow("silence") << QByteArray(3200, '\0') << 0.0;
        QTest::newRow("negative full scale counts as 1") << pcm16({-32768, -32768}) << 1.0;
        QTest::newRow("mean of absolute values") << pcm16({16384, -16384, 0, 8192}) << 0.3125;
        QTest::newRow("odd trailing byte ignored") << pcm16({16384}) + QByteArray(1, '\x7f') << 0.5;
    }
    void level()
    {
        QFETCH(QByteArray, data);
        QFETCH(double, expected);
        QCOMPARE(estimatePCM16Level(data), expected);
    }

    void resampledSampleCount_data()
    {
        QTest::addColumn<int>("frames");
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("expected");
        QTest::newRow("48 kHz buffer") << 2048 << 48000.0 << 682;
        QTest::newRow("44.1 kHz buffer") << 2048 << 44100.0 << 743;
        QTest::newRow("3 frames still give one") << 3 << 48000.0 << 1;
        QTest::newRow("16 kHz passes through") << 1600 << 16000.0 << 1600;
        QTest::newRow("zero rate treated as 1 Hz") << 2 << 0.0 << 32000;
    }
    void resampledSampleCount()
    {
        QFETCH(int, frames);
        QFETCH(double, rate);
        QFETCH(int, expected);
        std::vector<float> mono(static_cast<size_t>(frames), 0.25f);
        QCOMPARE(static_cast<int>(resampleTo16k(mono, rate).size()), expected);
    }

    // Output j takes the mean of both channels at source frame floor(j·r/16000).
    void stereoIsAveragedAndPicked()
    {
        std::vector<float> interleaved;
        for (int i = 0; i < 12; ++i) {
            interleaved.push_back(static_cast<float>(i) / 32.0f); // left
            interleaved.push_back(static_cast<float>(-i) / 64.0f); // right
        }
        const QByteArray pcm = convertToPCM16(floatFrames(interleaved, 2, 44100));
        // floor(12·16000/44100) = 4 samples from frames 0, 2, 5, 8 (j·2.75625).
        const QList<int> expectedFrames {0, 2, 5, 8};
        QList<int> expected;
        for (int f : expectedFrames)
            expected << static_cast<int>(std::lround((f / 32.0 - f / 64.0) / 2.0 * 32767.0));
        QCOMPARE(samplesOf(pcm), expected);
    }

    void quantization_data()
    {
        QTest::addColumn<float>("input");
        QTest::addColumn<int>("expected");
        QTest::newRow("above full scale") << 1.5f << 32767;
        QTest::newRow("exactly 1") << 1.0f << 32767;
        QTest::newRow("exactly -1") << -1.0f << -32767;
        QTest::newRow("below -1") << -7.0f << -32767;
        QTest::newRow("half rounds away from zero") << 0.5f << 16384; // 16383.5
        QTest::newRow("negative half") << -0.5f << -16384;
        QTest::newRow("NaN is silence") << std::nanf("") << 0;
    }
    void quantization()
    {
        QFETCH(float, input);
        QFETCH(int, expected);
        const float sample[] = {input};
        QCOMPARE(samplesOf(quantizeToPCM16(sample)), QList<int> {expected});
    }

    // Speech bands stay clean at 16 kHz: a tone above 8 kHz must not fold back into them, and
    // one below must come out without spurs (60 dB under the tone, or under -60 dBFS).
    void resamplerRejectsAliases_data()
    {
        QTest::addColumn<double>("sourceRate");
        QTest::addColumn<double>("tone");
        for (const double rate : {44100.0, 48000.0}) {
            QTest::addRow("7 kHz at %g", rate) << rate << 7000.0;
            QTest::addRow("9 kHz at %g", rate) << rate << 9000.0;
        }
    }
    void resamplerRejectsAliases()
    {
        QFETCH(double, sourceRate);
        QFETCH(double, tone);
        std::vector<float> input(static_cast<size_t>(sourceRate));
        for (size_t i = 0; i < input.size(); ++i)
            input[i] = float(0.5 * std::sin(2 * M_PI * tone * double(i) / sourceRate));
        StreamResampler resampler(sourceRate);
        const std::vector<float> out = resampler.process(input);
        QVERIFY(out.size() > 15000);
        // The filter's start-up is left out; a Hann window keeps the tone's own leakage far under
        // the spurs looked for (it halves every amplitude alike, full scale included).
        QByteArray pcm;
        const size_t first = 1000, count = out.size() - first;
        for (size_t i = 0; i < count; ++i) {
            const double window = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(count));
            const qint16 sample = qint16(std::lround(out[first + i] * window * 32767));
            pcm.append(reinterpret_cast<const char *>(&sample), 2);
        }
        const double reference = tone < 8000 ? toneAmplitude(pcm, tone) : 0.5;
        double worst = 0;
        for (double f = 100; f < 7950; f += 25) {
            if (std::abs(f - tone) > 150)
                worst = std::max(worst, toneAmplitude(pcm, f));
        }
        QVERIFY2(worst < reference * 1e-3,
                 qPrintable(QStringLiteral("spur %1 dB").arg(20 * std::log10(worst / reference))));
    }

    void int16InputIsScaled()
    {
        RawAudioFrames frames;
        frames.bytes = pcm16({16384, -16384, 32767, 32767});
        frames.format = SampleFormat::Int16;
        frames.channels = 2;
        frames.sampleRate = 16000;
        // Frame 0 averages to 0; frame 1 to 32767/32768.
        QCOMPARE(samplesOf(convertToPCM16(frames)), (QList<int> {0, 32766}));
    }

    void planarChannelsAreRead()
    {
        RawAudioFrames frames = floatFrames({0.5f, 0.5f, -0.5f, 0.0f}, 2, 16000);
        frames.interleaved = false; // left: 0.5, 0.5; right: -0.5, 0.0
        QCOMPARE(samplesOf(convertToPCM16(frames)), (QList<int> {0, 8192}));
    }

    void nothingToConvert_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("bytes");
        QTest::newRow("unsupported format") << int(SampleFormat::Unsupported) << 1 << 64;
        QTest::newRow("no channels") << int(SampleFormat::Float32) << 0 << 64;
        QTest::newRow("no frames") << int(SampleFormat::Float32) << 2 << 0;
        QTest::newRow("less than one frame") << int(SampleFormat::Float32) << 2 << 7;
    }
    void nothingToConvert()
    {
        QFETCH(int, format);
        QFETCH(int, channels);
        QFETCH(int, bytes);
        RawAudioFrames frames;
        frames.bytes = QByteArray(bytes, '\0');
        frames.format = static_cast<SampleFormat>(format);
        frames.channels = channels;
        QVERIFY(convertToPCM16(frames).isEmpty());
    }
};

VERNALO_TEST_MAIN(PcmFormatTest)
#include "test_pcm_format.moc"
