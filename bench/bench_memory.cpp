// Memory over a simulated 3-hour recording: real-size audio (100 ms chunks of 16 kHz PCM16)
// through the real capture front end, pipeline and stream client to a backend on its own thread
// behind a real loopback socket, with a partial every second and a final every 5 seconds
// arriving, and the controller's polls, keep-alive and pings at their audio-time rates on
// virtual time. Resident set size and heap in use are sampled every 10 minutes of audio; the
// slope (MB per hour of recording) is the least-squares line through the samples from 20
// minutes on (the first sample, at 10 minutes, still holds start-up allocations). Goal: ≤ 1 MB/h.
#include "bench_qt_main.h"
#include "bench_recording_rig.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <unistd.h>

namespace {

using namespace vernalo;
using namespace vernalo::bench;

constexpr int kChunks = 3 * 36000; // 3 hours of 100 ms chunks
constexpr int kSampleEvery = 6000; // 10 minutes
constexpr int kPartialEvery = 10;
constexpr int kFinalEvery = 50;
// The driver lets the backend catch up every this many chunks, so no backlog builds up.
constexpr int kCatchUpEvery = 50;

double residentMB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0.0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return 0.0;
    return fields.at(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double heapInUseMB()
{
    return double(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

// Least-squares slope of y over x.
double slope(const std::vector<double> &x, const std::vector<double> &y)
{
    const double n = double(x.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    const double denominator = n * sxx - sx * sx;
    return denominator == 0.0 ? 0.0 : (n * sxy - sx * sy) / denominator;
}

void BM_MemoryOverThreeHours(benchmark::State &state)
{
    for (auto _ : state) {
        BenchRecordingRig rig(kChunks + 1);
        if (!rig.startRecording()) {
            state.SkipWithError("the recording did not go live");
            return;
        }
        BenchBackendPeer &peer = rig.peer();
        TranscriptSegmentModel *model = rig.controller()->segmentModel();
        std::vector<double> hours;
        std::vector<double> rss;
        std::vector<double> heap;
        double rssAtStart = residentMB();
        int finals = 0;
        for (int i = 1; i <= kChunks; ++i) {
            rig.pushChunk(i);
            if (i % kCatchUpEvery == 0 &&
                !rig.waitFor([&] { return peer.chunkArrivedNs(i) != 0; })) {
                state.SkipWithError("a chunk never arrived");
                return;
            }
            if (i % kPartialEvery == 0)
                peer.sendPartial(QStringLiteral("segment %1 we will review").arg(i));
            if (i % kFinalEvery == 0) {
                peer.sendFinal(
                    i, QStringLiteral("segment %1 we will review the budget next week").arg(i),
                    rig.audioTime(i));
                ++finals;
                if (!rig.waitFor([&] { return model->count() >= finals; })) {
                    state.SkipWithError("a final never reached the transcript");
                    return;
                }
            }
            if (i % kSampleEvery == 0) {
                hours.push_back(double(i) / 36000.0);
                rss.push_back(residentMB());
                heap.push_back(heapInUseMB());
            }
        }
        rig.stopRecording();

        // Growth after the first sample (10 minutes in).
        const std::vector<double> laterHours(hours.begin() + 1, hours.end());
        const std::vector<double> laterRss(rss.begin() + 1, rss.end());
        const std::vector<double> laterHeap(heap.begin() + 1, heap.end());
        const double rssSlope = slope(laterHours, laterRss);
        state.counters["rss_slope_MB_per_h"] = rssSlope;
        state.counters["heap_slope_MB_per_h"] = slope(laterHours, laterHeap);
        state.counters["rss_start_MB"] = rssAtStart;
        state.counters["rss_10min_MB"] = rss.front();
        state.counters["rss_end_MB"] = rss.back();
        state.counters["samples"] = double(rss.size());
        // What the transcript itself costs: heap growth per final kept, after the first sample.
        const double keptAfterFirstSample =
            double(finals) * (1.0 - double(kSampleEvery) / double(kChunks));
        state.counters["heap_B_per_segment"] =
            (heap.back() - heap.front()) * 1024.0 * 1024.0 / keptAfterFirstSample;
        state.counters["segments"] = double(model->count());
        state.counters["audio_h"] = double(kChunks) / 36000.0;
    }
}
BENCHMARK(BM_MemoryOverThreeHours)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    return vernalo::runQtBenchmarks(argc, argv);
}
