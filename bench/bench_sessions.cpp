// Listing the history must cost little more than reading its files at all: compares
// SessionHistoryStore::list() over 1,000 sessions of 500 segments with merely reading and
// JSON-parsing the same files, in the same run.
#include "sessions/session_history_store.h"
#include "wire/json_fields.h"

#include <benchmark/benchmark.h>
#include <ctime>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

namespace {

// CPU time of this thread: both sides are single-threaded work on files in the page cache,
// and other processes on a busy machine must not tilt the ratio.
double threadCpuNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}
constexpr int kSessions = 1000;
constexpr int kSegments = 500;

struct Fixture
{
    QTemporaryDir root;
    QString folder = root.filePath(QStringLiteral("sessions"));
    qint64 bytes = 0;

    Fixture()
    {
        const vernalo::SessionHistoryStore store(folder);
        for (int s = 0; s < kSessions; ++s) {
            vernalo::SavedSession session {vernalo::uuidText(QUuid::createUuid()),
                                           vernalo::fromReferenceSeconds(790000000.0 + s * 3600),
                                           vernalo::fromReferenceSeconds(790001800.5 + s * 3600),
                                           QStringLiteral("fi-FI"),
                                           QStringLiteral("chirp_3"),
                                           {}};
            session.segments.reserve(kSegments);
            for (int i = 0; i < kSegments; ++i) {
                session.segments.append(
                    {QUuid::createUuid(),
                     QStringLiteral("Tämä on lauseen %1 teksti, jossa on tavallinen pituus.")
                         .arg(i),
                     vernalo::fromReferenceSeconds(790000000.25 + s * 3600 + i * 3.5),
                     i % 4 ? std::optional(QStringLiteral("S%1").arg(i % 4)) : std::nullopt});
            }
            // Plain writes: the fixture needs the files, not their durability.
            const QByteArray encoded = session.encode();
            QFile file(store.filePath(session.id));
            if (file.open(QIODevice::WriteOnly))
                bytes += file.write(encoded);
        }
    }
};

Fixture &fixture()
{
    static Fixture instance;
    return instance;
}

int readAndParseAll(const QString &folder)
{
    int objects = 0;
    QDirIterator it(folder, {QStringLiteral("*.json")}, QDir::Files);
    while (it.hasNext()) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
        objects += document.isObject() ? 1 : 0;
    }
    return objects;
}

void BM_ListVersusReadAndParse(benchmark::State &state)
{
    Fixture &data = fixture();
    const vernalo::SessionHistoryStore store(data.folder);
    double listNs = 0, parseNs = 0;
    for (auto _ : state) {
        const double t0 = threadCpuNs();
        const auto items = store.list();
        const double t1 = threadCpuNs();
        const int parsed = readAndParseAll(data.folder);
        const double t2 = threadCpuNs();
        benchmark::DoNotOptimize(items.size());
        benchmark::DoNotOptimize(parsed);
        if (items.size() != kSessions || parsed != kSessions)
            state.SkipWithError("fixture incomplete");
        listNs += t1 - t0;
        parseNs += t2 - t1;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["list_cpu_ms"] = listNs / n / 1e6;
    state.counters["read_parse_cpu_ms"] = parseNs / n / 1e6;
    state.counters["MB"] = static_cast<double>(data.bytes) / 1e6;
    // Goal: <= 2, listing costs at most twice reading and parsing the same files.
    state.counters["list_vs_read_parse"] = listNs / parseNs;
}
BENCHMARK(BM_ListVersusReadAndParse)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
