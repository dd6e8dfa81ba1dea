// The log must never make its caller wait for the disk: compares the cost of AppLog::write
// seen by the caller with a synchronous open/append/close of the same line, in the same run.
#include "foundation/app_log.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

using Clock = std::chrono::steady_clock;

void BM_AppLogWriteVersusSyncAppend(benchmark::State &state)
{
    QTemporaryDir dir;
    qputenv("XDG_STATE_HOME", dir.path().toUtf8());
    const QString message = QStringLiteral("mixed backlog trim mic dropped=6 remaining=3");
    const QByteArray line = ("1767603600.123456 " + message + "\n").toUtf8();
    const QString syncPath = dir.path() + QStringLiteral("/sync.log");
    constexpr int kLines = 200;

    double callerNs = 0, syncNs = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        for (int i = 0; i < kLines; ++i)
            vernalo::AppLog::write(message);
        auto t1 = Clock::now();
        for (int i = 0; i < kLines; ++i) {
            QFile file(syncPath);
            if (file.open(QIODevice::WriteOnly | QIODevice::Append))
                file.write(line);
        }
        auto t2 = Clock::now();
        callerNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
        syncNs += std::chrono::duration<double, std::nano>(t2 - t1).count();
        state.PauseTiming();
        vernalo::AppLog::flush();
        state.ResumeTiming();
    }
    const double lines = static_cast<double>(state.iterations()) * kLines;
    state.counters["caller_ns_per_line"] = callerNs / lines;
    state.counters["sync_append_ns_per_line"] = syncNs / lines;
    // Goal: >= 5, the caller returns at least five times sooner than a disk append.
    state.counters["speedup_vs_sync"] = syncNs / callerNs;
}
BENCHMARK(BM_AppLogWriteVersusSyncAppend)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
