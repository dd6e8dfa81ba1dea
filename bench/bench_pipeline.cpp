// The outgoing audio path per chunk, as multiples of real time on one core (every 3200-byte
// chunk is 100 ms of audio), and how much the sample-picking resampler lets through that a
// filtering one would not.
#include "audio/outgoing_audio_pipeline.h"
#include "audio/pcm_format.h"
#include "audio/pcm_mixer.h"
#include "wire/clock.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <QtEndian>
#include <vector>

namespace {

using namespace vernalo;

constexpr double kChunkSeconds = 0.1;
constexpr int kChunkSamples = 1600;
constexpr int kChunkCount = 50; // 5 s of material, cycled

// Speech-like material: a wobbling low tone with noise, and music-like material: two tones.
// Both loud enough that ducking and the limiter do real work.
std::vector<QByteArray> material(bool microphone)
{
    std::vector<QByteArray> chunks;
    quint32 noise = microphone ? 12345u : 777u;
    for (int c = 0; c < kChunkCount; ++c) {
        QByteArray chunk(kChunkSamples * 2, Qt::Uninitialized);
        for (int i = 0; i < kChunkSamples; ++i) {
            const double t = (c * kChunkSamples + i) / 16000.0;
            noise = noise * 1664525u + 1013904223u;
            const double white = static_cast<double>(noise >> 8) / (1u << 24) - 0.5;
            const double x = microphone
                ? (0.5 + 0.4 * std::sin(2 * M_PI * 3 * t)) * std::sin(2 * M_PI * 180 * t) +
                    0.05 * white
                : 0.45 * std::sin(2 * M_PI * 440 * t) + 0.35 * std::sin(2 * M_PI * 2637 * t);
            qToLittleEndian<qint16>(static_cast<qint16>(std::lround(x * 32767)),
                                    chunk.data() + 2 * i);
        }
        chunks.push_back(chunk);
    }
    return chunks;
}

void realTimeCounter(benchmark::State &state, double audioSecondsPerIteration)
{
    // Audio seconds handled per second of CPU time; goal >= 2000 for the mixed path.
    state.counters["x_realtime"] =
        benchmark::Counter(audioSecondsPerIteration, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_MixedPipeline(benchmark::State &state)
{
    const auto mic = material(true);
    const auto system = material(false);
    SystemClock clock;
    OutgoingAudioPipeline pipeline(&clock);
    qint64 bytesOut = 0;
    pipeline.activate(AudioInputMode::MicrophoneAndSystem,
                      [&](const QByteArray &chunk) { bytesOut += chunk.size(); });
    size_t i = 0;
    for (auto _ : state) {
        pipeline.pushMicrophoneChunk(mic[i]);
        pipeline.pushSystemChunk(system[i]);
        i = (i + 1) % mic.size();
    }
    benchmark::DoNotOptimize(bytesOut);
    if (bytesOut != static_cast<qint64>(state.iterations()) * kChunkSamples * 2)
        state.SkipWithError("chunks were lost on the way");
    realTimeCounter(state, kChunkSeconds);
}
BENCHMARK(BM_MixedPipeline);

void BM_MixPCM16(benchmark::State &state)
{
    const auto mic = material(true);
    const auto system = material(false);
    MixSettings settings;
    settings.limiterEnabled = state.range(0) != 0;
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mixPCM16(mic[i], system[i], settings));
        i = (i + 1) % mic.size();
    }
    realTimeCounter(state, kChunkSeconds);
}
BENCHMARK(BM_MixPCM16)->ArgName("limiter")->Arg(0)->Arg(1);

void BM_LevelPerChunk(benchmark::State &state)
{
    const auto chunks = material(true);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(estimatePCM16Level(chunks[i]));
        i = (i + 1) % chunks.size();
    }
    realTimeCounter(state, kChunkSeconds);
}
BENCHMARK(BM_LevelPerChunk);

// Amplitude of the component at an integer frequency of a 1-second, 16 kHz signal (Goertzel).
double amplitudeAt(const std::vector<float> &signal, int hz)
{
    const double w = 2 * M_PI * hz / static_cast<double>(signal.size());
    const double coeff = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (float x : signal) {
        const double s0 = x + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    const double scale = (hz == 0 || 2 * hz == static_cast<int>(signal.size())) ? 1.0 : 2.0;
    return std::sqrt(std::max(power, 0.0)) * scale / static_cast<double>(signal.size());
}

double decibels(double ratio)
{
    return 20 * std::log10(std::max(ratio, 1e-15));
}

// One second of a sine of amplitude 0.5 at toneHz, sampled at inputRate, resampled to 16 kHz.
// The output holds integer frequencies only on whole bins, so the scan sees no window leakage.
// Counters: where the tone lands (Hz), its level there relative to the input (dB; a tone above
// 8 kHz lands folded, and a filtering resampler would push this far below 0), and the strongest
// other component relative to it (dBc).
void BM_ResamplerTone(benchmark::State &state)
{
    const int toneHz = static_cast<int>(state.range(0));
    const int inputRate = static_cast<int>(state.range(1));
    constexpr double kAmplitude = 0.5;
    std::vector<float> input(static_cast<size_t>(inputRate));
    for (size_t n = 0; n < input.size(); ++n)
        input[n] = static_cast<float>(kAmplitude * std::sin(2 * M_PI * toneHz * n / inputRate));

    std::vector<float> output;
    for (auto _ : state) {
        output = resampleTo16k(input, inputRate);
        benchmark::DoNotOptimize(output.data());
    }
    realTimeCounter(state, 1.0);

    int landsAt = toneHz % 16000;
    if (landsAt > 8000)
        landsAt = 16000 - landsAt;
    const double tone = amplitudeAt(output, landsAt);
    double strongestOther = 0;
    int strongestOtherHz = 0;
    for (int hz = 0; hz <= 8000; ++hz) {
        if (hz == landsAt)
            continue;
        const double a = amplitudeAt(output, hz);
        if (a > strongestOther) {
            strongestOther = a;
            strongestOtherHz = hz;
        }
    }
    state.counters["lands_at_hz"] = landsAt;
    state.counters["level_there_dB"] = decibels(tone / kAmplitude);
    state.counters["worst_spur_dBc"] = decibels(strongestOther / tone);
    state.counters["worst_spur_hz"] = strongestOtherHz;
}
// 7 kHz from 48 kHz (a clean 3:1 pick), 9 kHz from 48 kHz (above the 8 kHz limit: it folds to
// 7 kHz), 7 kHz from 44.1 kHz (an uneven pick that jitters).
BENCHMARK(BM_ResamplerTone)
    ->ArgNames({"tone_hz", "input_rate"})
    ->Args({7000, 48000})
    ->Args({9000, 48000})
    ->Args({7000, 44100})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
