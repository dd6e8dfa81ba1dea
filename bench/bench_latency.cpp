// Client-added latency of a live recording, over 10 minutes of audio pushed through the real
// capture front end, outgoing pipeline and stream client to a backend on its own thread behind
// a real loopback socket (virtual time, so the controller's polls, keep-alive and pings run at
// their audio-time rates while the audio goes through faster than real time):
//   send:  from the raw frames that complete a chunk being handed to the capture, to the
//          chunk's arrival at the backend (so it includes the kernel's loopback hop and the
//          backend thread's wake-up: an upper bound of the client's share);
//   event: from the event loop handing the socket's readiness to the client (it starts reading
//          the final event's bytes) to the segment being in the controller's transcript model.
//          event_wire_* adds the time before that: from the backend's write returning, through
//          the kernel and the wake-up of the client's sleeping thread, which on a busy machine
//          is the scheduler's share rather than the client's.
// Goals: P95 send ≤ 10 ms, P95 event ≤ 5 ms; the *_p95_of_goal counters are those ratios.
#include "bench_qt_main.h"
#include "bench_recording_rig.h"

#include <benchmark/benchmark.h>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>

namespace {

using namespace vernalo;
using namespace vernalo::bench;

constexpr int kChunks = 6000; // 10 minutes of 100 ms chunks
constexpr int kPartialEvery = 10;
constexpr int kFinalEvery = 25;

void BM_ClientAddedLatency(benchmark::State &state)
{
    for (auto _ : state) {
        BenchRecordingRig rig(kChunks + 1);
        if (!rig.startRecording()) {
            state.SkipWithError("the recording did not go live");
            return;
        }
        TranscriptSegmentModel *model = rig.controller()->segmentModel();
        std::vector<qint64> inModel(kChunks + 1, 0);
        std::vector<qint64> readFrom(kChunks + 1, 0);
        QObject::connect(
            model, &QAbstractItemModel::rowsInserted, model,
            [&](const QModelIndex &, int first, int last) {
                const qint64 now = steadyNs();
                for (int row = first; row <= last; ++row) {
                    const QString text =
                        model->data(model->index(row), TranscriptSegmentModel::TextRole).toString();
                    const int index = text.section(QLatin1Char(' '), 1, 1).toInt();
                    if (index > 0 && index <= kChunks && inModel[index] == 0) {
                        inModel[index] = now;
                        readFrom[index] = rig.lastSocketActivityNs();
                    }
                }
            });

        std::vector<double> sendMs;
        std::vector<double> eventMs;
        std::vector<double> wireMs;
        sendMs.reserve(kChunks);
        BenchBackendPeer &peer = rig.peer();
        for (int i = 1; i <= kChunks; ++i) {
            const qint64 handedIn = rig.pushChunk(i);
            if (!rig.waitFor([&] { return peer.chunkArrivedNs(i) != 0; })) {
                state.SkipWithError("a chunk never arrived");
                return;
            }
            sendMs.push_back(double(peer.chunkArrivedNs(i) - handedIn) / 1e6);
            if (i % kPartialEvery == 0)
                peer.sendPartial(QStringLiteral("segment %1 the meeting").arg(i));
            if (i % kFinalEvery == 0) {
                peer.sendFinal(i, QStringLiteral("segment %1 the meeting starts at nine").arg(i),
                               rig.audioTime(i));
                if (!rig.waitFor([&] { return inModel[i] != 0 && peer.finalSentNs(i) != 0; })) {
                    state.SkipWithError("a final never reached the transcript");
                    return;
                }
                eventMs.push_back(double(inModel[i] - readFrom[i]) / 1e6);
                wireMs.push_back(double(inModel[i] - peer.finalSentNs(i)) / 1e6);
            }
        }
        rig.stopRecording();

        const double sendP95 = percentile(sendMs, 0.95);
        const double eventP95 = percentile(eventMs, 0.95);
        state.counters["send_p50_ms"] = percentile(sendMs, 0.5);
        state.counters["send_p95_ms"] = sendP95;
        state.counters["event_p50_ms"] = percentile(eventMs, 0.5);
        state.counters["event_p95_ms"] = eventP95;
        state.counters["event_wire_p50_ms"] = percentile(wireMs, 0.5);
        state.counters["event_wire_p95_ms"] = percentile(wireMs, 0.95);
        state.counters["send_p95_of_goal"] = sendP95 / 10.0;
        state.counters["event_p95_of_goal"] = eventP95 / 5.0;
        state.counters["chunks"] = double(sendMs.size());
        state.counters["finals"] = double(eventMs.size());
    }
}
BENCHMARK(BM_ClientAddedLatency)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    return vernalo::runQtBenchmarks(argc, argv);
}
