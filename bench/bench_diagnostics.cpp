// A diagnostics package is made on the main thread, so its cost is compared with work the
// program does anyway, in the same run:
// - redacting a full log tail (240,000 bytes, five known secrets, key=value patterns) against
//   merely encoding the same text as UTF-8;
// - building the whole package (redaction, JSON, work folder, zip) for a 240,000-byte log and a
//   5,000-segment transcript, held locally and on the server, against writing the same entry
//   bytes as plain files.
#include "diagnostics/diagnostics_archive.h"
#include "diagnostics/secret_redaction.h"

#include <benchmark/benchmark.h>
#include <ctime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// CPU time of this thread, so other processes on a busy machine do not tilt the ratios.
double threadCpuNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

const QStringList kSecrets {QStringLiteral("AK-zebra-5531-key"), QStringLiteral("TOK-quasar-9911"),
                            QStringLiteral("ADM-walrus-7702"), QStringLiteral("PW-heron-4480"),
                            QStringLiteral("test-api-key")};

QString logTail()
{
    QString log;
    for (int i = 0; log.size() < 240000; ++i) {
        log += QStringLiteral("1767600000.%1 session meta poll id=s-%2 frames=%3 level=0.0%4\n")
                   .arg(i % 1000)
                   .arg(i % 7)
                   .arg(i * 10)
                   .arg(i % 9);
        if (i % 500 == 0)
            log +=
                QStringLiteral("1767600001.5 stream reconnect token=TOK-quasar-9911 attempt=2\n");
    }
    log.truncate(240000);
    return log;
}

vernalo::DiagnosticExportPayload payload()
{
    vernalo::DiagnosticExportPayload payload;
    payload.createdAt = QDateTime::currentDateTimeUtc();
    payload.sessionId = QStringLiteral("s-1");
    payload.logTail = logTail();
    vernalo::ServerTranscriptResponse transcript;
    transcript.sessionId = payload.sessionId;
    for (int i = 0; i < 5000; ++i)
        transcript.segments.append(
            {QStringLiteral("Tämä on lauseen %1 teksti, jossa on tavallinen pituus.").arg(i),
             QStringLiteral("2026-03-01T12:%1:%2Z")
                 .arg(i / 60 % 60, 2, 10, QChar(u'0'))
                 .arg(i % 60, 2, 10, QChar(u'0')),
             QStringLiteral("S%1").arg(i % 3)});
    payload.transcript = transcript;
    vernalo::SessionMetaResponse meta;
    meta.id = payload.sessionId;
    meta.audioFrameCount = 90000;
    payload.sessionMeta = meta;
    return payload;
}

QString localTranscript()
{
    QStringList lines;
    for (int i = 0; i < 5000; ++i)
        lines.append(
            QStringLiteral("[12:00:00] [S1] Tämä on lauseen %1 teksti, jossa on tavallinen pituus.")
                .arg(i));
    return lines.join(u'\n');
}

void BM_RedactLogTail(benchmark::State &state)
{
    const QString log = logTail();
    double redactNs = 0, encodeNs = 0;
    for (auto _ : state) {
        const double t0 = threadCpuNs();
        const QString redacted = vernalo::redactSecrets(log, kSecrets);
        const double t1 = threadCpuNs();
        const QByteArray encoded = log.toUtf8();
        const double t2 = threadCpuNs();
        benchmark::DoNotOptimize(redacted.size());
        benchmark::DoNotOptimize(encoded.size());
        if (redacted.contains(QStringLiteral("TOK-quasar-9911")))
            state.SkipWithError("secret left in the log");
        redactNs += t1 - t0;
        encodeNs += t2 - t1;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["redact_cpu_ms"] = redactNs / n / 1e6;
    state.counters["utf8_cpu_ms"] = encodeNs / n / 1e6;
    state.counters["redact_vs_utf8"] = redactNs / encodeNs;
}
BENCHMARK(BM_RedactLogTail)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_PackageVersusPlainFiles(benchmark::State &state)
{
    QTemporaryDir temp;
    const vernalo::DiagnosticExportPayload record = payload();
    const QString local = localTranscript();
    double packageNs = 0, plainNs = 0, entriesNs = 0;
    qint64 zipBytes = 0, entryBytes = 0;
    for (auto _ : state) {
        const double t0 = threadCpuNs();
        const auto entries = vernalo::DiagnosticsArchive::entries(record, local, kSecrets);
        const double tEntries = threadCpuNs();
        const auto result =
            vernalo::DiagnosticsArchive::create(entries, QStringLiteral("vernalo-diagnoosi"),
                                                QDateTime::currentDateTime(), temp.path());
        const double t1 = threadCpuNs();
        if (!result.ok()) {
            state.SkipWithError(qPrintable(result.error));
            break;
        }
        zipBytes = QFile(result.path).size();
        entryBytes = 0;
        const double t2 = threadCpuNs();
        QDir(temp.path()).mkpath(QStringLiteral("plain"));
        for (const auto &entry : entries) {
            QFile file(temp.filePath(QStringLiteral("plain/") + entry.name));
            if (file.open(QIODevice::WriteOnly))
                entryBytes += file.write(entry.content);
        }
        const double t3 = threadCpuNs();
        QFile::remove(result.path);
        packageNs += t1 - t0;
        entriesNs += tEntries - t0;
        plainNs += t3 - t2;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["package_cpu_ms"] = packageNs / n / 1e6;
    state.counters["of_which_redact_encode_cpu_ms"] = entriesNs / n / 1e6;
    state.counters["plain_write_cpu_ms"] = plainNs / n / 1e6;
    state.counters["entry_MB"] = static_cast<double>(entryBytes) / 1e6;
    state.counters["zip_MB"] = static_cast<double>(zipBytes) / 1e6;
    state.counters["package_vs_plain_write"] = packageNs / plainNs;
}
BENCHMARK(BM_PackageVersusPlainFiles)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

BENCHMARK_MAIN();
