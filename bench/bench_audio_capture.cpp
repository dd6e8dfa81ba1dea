// Capture cost. Conversion and chunking of what the sound server hands over must run far
// faster than real time (goal >= 1000x on one core), and a running capture of a microphone
// plus the system audio must cost almost nothing (goal <= 1 % of one core, measured against a
// private PulseAudio at its real rate).
#include "audio/microphone_capture.h"
#include "audio/system_audio_capture.h"
#include "bench_qt_main.h"
#include "pulse/pulse_audio_system.h"
#include "support/pulse_fixture.h"
#include "wire/clock.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>
#include <sys/resource.h>

using namespace vernalo;

namespace {

// A stream the benchmark feeds by hand, so the measured path is exactly the capture's own.
class HandFedStream final : public AudioCaptureStream
{
public:
    void close() override { }
    QString formatName() const override { return QStringLiteral("float32le"); }
    int bitsPerSample() const override { return 32; }
    void feed(const RawAudioFrames &frames) { Q_EMIT framesArrived(frames); }
};

class HandFedAudioSystem final : public AudioSystem
{
public:
    HandFedStream *stream = nullptr;

    AudioServerStatus serverStatus() override { return {true, QStringLiteral("bench"), {}}; }
    AudioSourceList listSources() override
    {
        AudioSourceInfo mic;
        mic.id = 1;
        mic.name = QStringLiteral("bench_mic");
        mic.description = QStringLiteral("Bench Mic");
        mic.channels = 2;
        mic.sampleRate = 48000;
        mic.bus = QStringLiteral("pci");
        return {{mic}, 1, {}};
    }
    QList<AudioDisplayInfo> listDisplays() override { return {{1, 1920, 1080}}; }
    AudioPlaybackList listPlaybacks() override { return {}; }
    CaptureOpenResult openCapture(const CaptureTarget &) override
    {
        auto owned = std::make_unique<HandFedStream>();
        stream = owned.get();
        return {std::move(owned), {}};
    }
};

// Ten seconds of a 48 kHz stereo float sine in buffers of framesPerBuffer.
QList<RawAudioFrames> tenSecondsOfStereoFloat(int framesPerBuffer)
{
    QList<RawAudioFrames> buffers;
    constexpr int kRate = 48000;
    for (qint64 start = 0; start < 10LL * kRate; start += framesPerBuffer) {
        RawAudioFrames frames;
        frames.format = SampleFormat::Float32;
        frames.channels = 2;
        frames.sampleRate = kRate;
        frames.bytes.resize(qsizetype(framesPerBuffer) * 2 * 4);
        auto *samples = reinterpret_cast<float *>(frames.bytes.data());
        for (int i = 0; i < framesPerBuffer; ++i) {
            const float value = float(0.5 * std::sin(2 * M_PI * 440.0 * double(start + i) / kRate));
            samples[2 * i] = value;
            samples[2 * i + 1] = -value;
        }
        buffers.append(frames);
    }
    return buffers;
}

template<typename Capture>
void runConversion(benchmark::State &state, Capture &capture, HandFedAudioSystem &audio,
                   int framesPerBuffer)
{
    const QList<RawAudioFrames> buffers = tenSecondsOfStereoFloat(framesPerBuffer);
    qint64 chunks = 0;
    capture.onPCMFrame = [&chunks](const QByteArray &chunk) { chunks += chunk.size() > 0; };
    capture.start();
    for (auto _ : state) {
        for (const RawAudioFrames &frames : buffers)
            audio.stream->feed(frames);
    }
    capture.stop();
    // Seconds of audio handled per second of CPU: the multiple of real time on one core.
    state.counters["x_realtime"] =
        benchmark::Counter(10.0 * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["chunks_per_10s"] = double(chunks) / double(state.iterations());
}

void BM_SystemAudioConvertAndChunk48kStereoFloat(benchmark::State &state)
{
    HandFedAudioSystem audio;
    SystemClock clock;
    SystemAudioCapture capture(&audio, &clock);
    runConversion(state, capture, audio, 1024);
}
BENCHMARK(BM_SystemAudioConvertAndChunk48kStereoFloat)->Unit(benchmark::kMillisecond);

void BM_MicrophoneConvertAndChunk48kStereoFloat(benchmark::State &state)
{
    HandFedAudioSystem audio;
    MicrophoneCapture capture(&audio);
    runConversion(state, capture, audio, 2048);
}
BENCHMARK(BM_MicrophoneConvertAndChunk48kStereoFloat)->Unit(benchmark::kMillisecond);

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Both captures run for ten seconds of real-rate audio from a private server: a microphone
// hearing a sine and the monitor of the default output while a sine plays into it. The server's
// own CPU is not ours and is not counted.
void BM_CaptureCpuShareMicAndSystem(benchmark::State &state)
{
    test::PulseFixture server;
    QString error;
    if (!server.start(&error) ||
        !server.addRealRateMicrophone(QStringLiteral("bench_mic"), 440.0) ||
        !server.loadModule(
            QStringLiteral("module-sine"),
            {QStringLiteral("sink=%1").arg(server.sinkName()), QStringLiteral("frequency=660")})) {
        state.SkipWithError(qPrintable(QStringLiteral("no private PulseAudio: ") + error));
        return;
    }
    PulseAudioSystem audio([] { return QList<AudioDisplayInfo> {{1, 1920, 1080}}; });
    SystemClock clock;
    MicrophoneCapture microphone(&audio);
    SystemAudioCapture system(&audio, &clock);
    qint64 micBytes = 0;
    qint64 systemBytes = 0;
    microphone.onPCMFrame = [&](const QByteArray &chunk) { micBytes += chunk.size(); };
    system.onPCMFrame = [&](const QByteArray &chunk) { systemBytes += chunk.size(); };

    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        microphone.start();
        system.start();
        QElapsedTimer elapsed;
        elapsed.start();
        const double cpuBefore = processCpuSeconds();
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        cpu += processCpuSeconds() - cpuBefore;
        // Wake-ups that carry system audio; each costs a hop to the main thread.
        state.counters["system_buffers_per_s"] = system.rawSampleCount() / 10.0;
        wall += double(elapsed.nsecsElapsed()) / 1e9;
        microphone.stop();
        system.stop();
        state.SetIterationTime(double(elapsed.nsecsElapsed()) / 1e9);
    }
    state.counters["cpu_share_pct"] = 100.0 * cpu / wall;
    // Both must have delivered real-rate audio for the figure to mean anything (32000 B/s).
    state.counters["mic_audio_s"] = double(micBytes) / 32000.0;
    state.counters["system_audio_s"] = double(systemBytes) / 32000.0;
}
BENCHMARK(BM_CaptureCpuShareMicAndSystem)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    return vernalo::runQtBenchmarks(argc, argv);
}
