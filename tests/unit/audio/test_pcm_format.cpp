// Conversion to the outgoing PCM format, its level measure, and the mixing of two sources.
#include "audio/pcm_format.h"
#include "audio/pcm_mixer.h"
#include "audio/stream_resampler.h"
#include "support/test_environment.h"
#include "support/tone_analysis.h"

#include <cmath>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

Q_DECLARE_METATYPE(vernalo::MixSettings)

namespace {

QByteArray floatBytes(const std::vector<float> &samples)
{
    return QByteArray(reinterpret_cast<const char *>(samples.data()),
                      static_cast<qsizetype>(samples.size() * sizeof(float)));
}

MixSettings mix(double micGain, double systemGain, bool duck, double strength, bool limiter)
{
    return MixSettings {micGain, systemGain, duck, strength, limiter};
}

const MixSettings kPlain = mix(1.0, 1.0, false, 0.0, false);

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
        QTEST(estimatePCM16Level(data), "expected");
    }

    // Output j is the mean of the channels at source frame floor(j·rate/16000); what cannot be
    // read gives nothing.
    void conversion_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("channels");
        QTest::addColumn<double>("rate");
        QTest::addColumn<bool>("interleaved");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<int>>("expected");
        const int f32 = int(SampleFormat::Float32);
        std::vector<float> ramp; // left i/32, right -i/64
        for (int i = 0; i < 12; ++i)
            ramp.insert(ramp.end(), {float(i) / 32.0f, float(-i) / 64.0f});
        // floor(12·16000/44100) = 4 samples from frames 0, 2, 5, 8 (j·2.75625), each f/128.
        // clang-format off
        QTest::newRow("stereo averaged, the frame before picked") << f32 << 2 << 44100.0 << true << floatBytes(ramp) << QList {0, 512, 1280, 2048};
        // Frame 0 averages to 0, frame 1 to 32767/32768.
        QTest::newRow("int16 scaled") << int(SampleFormat::Int16) << 2 << 16000.0 << true << pcm16({16384, -16384, 32767, 32767}) << QList {0, 32766};
        // Left 0.5, 0.5; right -0.5, 0.0.
        QTest::newRow("planar channels") << f32 << 2 << 16000.0 << false << floatBytes({0.5f, 0.5f, -0.5f, 0.0f}) << QList {0, 8192};
        QTest::newRow("unsupported format") << int(SampleFormat::Unsupported) << 1 << 16000.0 << true << QByteArray(64, '\0') << QList<int> {};
        QTest::newRow("no channels") << f32 << 0 << 16000.0 << true << QByteArray(64, '\0') << QList<int> {};
        QTest::newRow("no frames") << f32 << 2 << 16000.0 << true << QByteArray() << QList<int> {};
        QTest::newRow("less than one frame") << f32 << 2 << 16000.0 << true << QByteArray(7, '\0') << QList<int> {};
        // clang-format on
    }
    void conversion()
    {
        RawAudioFrames frames;
        QFETCH(int, format);
        QFETCH(int, channels);
        QFETCH(double, rate);
        QFETCH(bool, interleaved);
        QFETCH(QByteArray, bytes);
        frames.format = static_cast<SampleFormat>(format);
        frames.channels = channels;
        frames.sampleRate = rate;
        frames.interleaved = interleaved;
        frames.bytes = bytes;
        QTEST(samplesOf(convertToPCM16(frames)), "expected");
    }

    void quantization_data()
    {
        QTest::addColumn<float>("input");
        QTest::addColumn<int>("expected");
        // clang-format off
        QTest::newRow("above full scale") << 1.5f << 32767;
        QTest::newRow("exactly 1") << 1.0f << 32767;
        QTest::newRow("exactly -1") << -1.0f << -32767;
        QTest::newRow("below -1") << -7.0f << -32767;
        QTest::newRow("half rounds away from zero") << 0.5f << 16384; // 16383.5 QTest::newRow("negative half") << -0.5f << -16384;
        QTest::newRow("NaN is silence") << std::nanf("") << 0;
        // clang-format on
    }
    void quantization()
    {
        QFETCH(float, input);
        const float sample[] = {input};
        QTEST(samplesOf(quantizeToPCM16(sample)).value(0), "expected");
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

    // Expected samples were worked out by hand as round((gm·m + k·gs·s)·0.62·32767) on m, s in
    // units of 1/32768 (tanh(1.45·x)/tanh(1.45) in place of x with the limiter), and checked
    // once with a few lines of Python.
    void mixedSamples_data()
    {
        QTest::addColumn<QList<int>>("mic");
        QTest::addColumn<QList<int>>("system");
        QTest::addColumn<MixSettings>("settings");
        QTest::addColumn<QList<int>>("expected");

        // clang-format off
        QTest::newRow("silence stays silence") << QList {0, 0} << QList {0, 0} << MixSettings() << QList {0, 0};
        // ±0.5·0.62·32767 = ±10157.77: rounded, not truncated, on both sides of zero.
        QTest::newRow("microphone alone") << QList {16384, -16384} << QList {0, 0} << kPlain << QList {10158, -10158};
        // 3000/32768·0.62·32767 = 1859.94
        QTest::newRow("sources add") << QList {1000, -1000} << QList {2000, -2000} << kPlain << QList {1860, -1860};
        // (2·1000 + 0.5·4000) = 4000 units → 2479.92
        QTest::newRow("gains") << QList {1000, -1000} << QList {4000, -4000} << mix(2.0, 0.5, false, 0, false) << QList {2480, -2480};
        // Gains 5 and 0 act as 2 and 0.1: 2·1000 + 0.1·20000 = 4000 units again.
        QTest::newRow("gains clamped") << QList {1000, -1000} << QList {20000, -20000} << mix(5.0, 0.0, false, 0, false) << QList {2480, -2480};
        // 52000 units → x = 0.98388 → 32239.02, still below the clip.
        QTest::newRow("loud but unclipped") << QList {26000, -26000} << QList {26000, -26000} << kPlain << QList {32239, -32239};
        // x = 1.24 clips to full scale; the negative side stops at −32767, not −32768.
        QTest::newRow("full scale clips") << QList {32767, -32768} << QList {32767, -32768} << kPlain << QList {32767, -32767};
        // x = 2·2·(−0.6104)·0.62 = −1.51
        QTest::newRow("far below full scale clips at -32767") << QList {-20000} << QList {-20000} << mix(2.0, 2.0, false, 0, false) << QList {-32767};
        // tanh(1.45·1.24)/tanh(1.45) = 1.0566 → beyond full scale on both sides.
        QTest::newRow("limiter at full scale") << QList {32767, -32768} << QList {32767, -32768} << mix(1, 1, false, 0, true) << QList {32767, -32768};
        // x = 15000/32768·0.62 = 0.28381 → tanh(0.41153)/0.89569 = 0.43516 → 14258.92
        QTest::newRow("limiter bends the middle") << QList {10000, -10000} << QList {5000, -5000} << mix(1, 1, false, 0, true) << QList {14259, -14259};
        // Near zero the limiter is close to a gain of 1.45/tanh(1.45) = 1.619: 100 → 100.37.
        QTest::newRow("limiter near zero") << QList {100, -100} << QList {0, 0} << mix(1, 1, false, 0, true) << QList {100, -100};
        // Mic level 1622/32768 = 0.0495 → activity 0.5 → k = 1 − 0.55·0.5 = 0.725;
        // 1622 + 0.725·10000 = 8872 units → 5500.49
        QTest::newRow("half ducking") << QList {1622, -1622} << QList {10000, -10000} << mix(1, 1, true, 0.55, false) << QList {5500, -5500};
        // Mic level 0.2: k = max(1 − 0.9, 0.12) = 0.12; 6554 + 1200 = 7754 units → 4807.33
        QTest::newRow("full ducking floors at 0.12") << QList {6554, -6554} << QList {10000, -10000} << mix(1, 1, true, 0.9, false) << QList {4807, -4807};
        QTest::newRow("ducking strength 0.95 acts as 0.9")
            << QList {6554, -6554} << QList {10000, -10000} << mix(1, 1, true, 0.95, false)
            << QList {4807, -4807};
        // 6554 + 10000 = 16554 units → 10263.17
        QTest::newRow("ducking off") << QList {6554, -6554} << QList {10000, -10000} << mix(1, 1, false, 0.9, false) << QList {10263, -10263};
        // Mic level 393/32768 = 0.01199, under the activity floor: 10393 units → 6443.46
        QTest::newRow("quiet microphone does not duck") << QList {393, -393} << QList {10000, -10000} << mix(1, 1, true, 0.9, false) << QList {6443, -6443};
        // Mic level = mean |sample| = 1500/32768 = 0.04578 → activity 0.4503 → k = 0.75236;
        // sample 0: 3000 + 7523.6 units → 6524.10; sample 1: −3000 + 7523.6 → 2804.22.
        QTest::newRow("ducking follows the mean absolute level")
            << QList {3000, -3000, 0, 0} << QList {10000, 10000, 10000, 10000}
            << mix(1, 1, true, 0.55, false) << QList {6524, 2804, 4664, 4664};
        QTest::newRow("default settings: ducking and limiter together")
            << QList {3000, -3000, 0, 0} << QList {10000, 10000, 10000, 10000} << MixSettings()
            << QList {10278, 4516, 7445, 7445};
        QTest::newRow("shorter input sets the length") << QList {1000, 2000, 3000} << QList {1000, 1000} << kPlain << QList {1240, 1860};
        // clang-format on
    }
    void mixedSamples()
    {
        QFETCH(QList<int>, mic);
        QFETCH(QList<int>, system);
        QFETCH(MixSettings, settings);
        QTEST(samplesOf(mixPCM16(pcm16(mic), pcm16(system), settings)), "expected");
    }

    void littleEndianOnTheWire()
    {
        // 1860 = 0x0744, −1860 = 0xF8BC, low byte first.
        QCOMPARE(mixPCM16(pcm16({1000, -1000}), pcm16({2000, -2000}), kPlain),
                 QByteArray::fromHex("4407bcf8"));
    }

    // Tags of the chunks left in each queue, oldest first.
    void trim_data()
    {
        QTest::addColumn<int>("mic");
        QTest::addColumn<int>("system");
        QTest::addColumn<QList<int>>("micLeft");
        QTest::addColumn<QList<int>>("systemLeft");
        // clang-format off
        QTest::newRow("nine behind one: newest three stay") << 9 << 1 << QList {7, 8, 9} << QList {101};
        QTest::newRow("eight is not yet a backlog") << 8 << 1 << QList {1, 2, 3, 4, 5, 6, 7, 8} << QList {101};
        QTest::newRow("no partner waiting: nothing trimmed") << 9 << 0 << QList {1, 2, 3, 4, 5, 6, 7, 8, 9} << QList<int>();
        QTest::newRow("system backlog") << 1 << 10 << QList {1} << QList {108, 109, 110};
        QTest::newRow("both queues long") << 12 << 9 << QList {10, 11, 12} << QList {107, 108, 109};
        // clang-format on
    }
    void trim()
    {
        QFETCH(int, mic);
        QFETCH(int, system);
        QFETCH(QList<int>, micLeft);
        QFETCH(QList<int>, systemLeft);
        MixedQueues queues;
        for (int i = 0; i < std::max(mic, system); ++i) {
            if (i < mic)
                queues.mic.push_back(constantChunk(1 + i, 2));
            if (i < system)
                queues.system.push_back(constantChunk(101 + i, 2));
        }
        const BacklogTrim trim = trimMixedBacklog(queues);
        const auto tags = [](const std::deque<QByteArray> &queue) {
            QList<int> out;
            for (const QByteArray &chunk : queue)
                out << samplesOf(chunk).value(0);
            return out;
        };
        QCOMPARE(tags(queues.mic), micLeft);
        QCOMPARE(tags(queues.system), systemLeft);
        QCOMPARE(trim.micDropped, mic - micLeft.size());
        QCOMPARE(trim.systemDropped, system - systemLeft.size());
    }
};

VERNALO_TEST_MAIN(PcmFormatTest)
#include "test_pcm_format.moc"
