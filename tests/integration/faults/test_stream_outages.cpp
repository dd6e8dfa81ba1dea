// A live recording against the reference server as a child process, through repeated outages:
// the server killed and restarted on the same port and data, or frozen until the stream's ping
// deadline gives up on it. Each outage must leave the recording running, reconnected and
// sending, with every final it had kept and none twice; the audio each outage costs is printed.
#include "fault_support.h"
#include "live_recording_rig.h"
#include "support/socket_wait.h"
#include "support/test_environment.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

enum class Outage { Kill, Freeze };

// How many outages of each kind one run goes through.
int outageCount()
{
    return iterationsFrom("VERNALO_FAULT_ITERATIONS", 20);
}

// Waits until the server's byte count stops moving: what is still in flight has arrived.
std::optional<qint64> settledAudioBytes(ServerCalls &calls, const QString &sessionId)
{
    std::optional<qint64> last;
    int stableReads = 0;
    for (int read = 0; read < 200 && stableReads < 3; ++read) {
        const auto now = calls.audioBytes(sessionId);
        stableReads = now && last && *now == *last ? stableReads + 1 : 0;
        last = now;
        QTest::qWait(15); // loopback traffic still draining
    }
    return stableReads >= 3 ? last : std::nullopt;
}

// Waits in real time until the client shows exactly the server's transcript: the server turns
// audio into finals at its own pace, which virtual time does not wait for.
bool inStepWithServer(LiveRecordingRig &rig, ServerCalls &calls, const QString &sessionId)
{
    for (int i = 0; i < 200; ++i) {
        const auto serverTexts = calls.transcriptTexts(sessionId);
        if (serverTexts && !serverTexts->isEmpty() && rig.segmentTexts() == *serverTexts)
            return true;
        QTest::qWait(20); // the stream's last finals still on their way
    }
    return false;
}

// The transcript must read "segment 1", "segment 2", ... with nothing missing or repeated. The
// fault names the first wrong place with its neighbours and their times.
QString numberingFault(const QList<TranscriptSegment> &segments)
{
    for (qsizetype i = 0; i < segments.size(); ++i) {
        if (segmentNumber(segments[i].text) == i + 1)
            continue;
        QStringList around;
        for (qsizetype j = std::max<qsizetype>(0, i - 2); j < std::min(segments.size(), i + 10);
             ++j)
            around.append(segments[j].text + QLatin1Char('@') +
                          segments[j].timestamp.toString(Qt::ISODate));
        return QStringLiteral("position %1 of %2: %3")
            .arg(i + 1)
            .arg(segments.size())
            .arg(around.join(QStringLiteral(", ")));
    }
    return {};
}

// The server's transcript with its times, for a fault message.
QList<TranscriptSegment> serverSegments(ServerCalls &calls, const QString &sessionId)
{
    QList<TranscriptSegment> segments;
    const auto answer = calls.get(QStringLiteral("/v1/sessions/%1/transcript").arg(sessionId));
    for (const QJsonValue &value :
         answer.value_or(QJsonObject()).value(QStringLiteral("segments")).toArray()) {
        const QJsonObject object = value.toObject();
        segments.append(TranscriptSegment {
            QUuid(), object.value(QStringLiteral("text")).toString(),
            QDateTime::fromString(object.value(QStringLiteral("ts")).toString(), Qt::ISODate),
            std::nullopt});
    }
    return segments;
}

QList<TranscriptSegment> asSegments(const QStringList &texts)
{
    QList<TranscriptSegment> segments;
    for (const QString &text : texts)
        segments.append(TranscriptSegment {QUuid(), text, QDateTime(), std::nullopt});
    return segments;
}

} // namespace

Q_DECLARE_METATYPE(Outage)

class StreamOutagesTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    std::unique_ptr<ServerChild> m_server;
    quint32 m_seed = 0;
    QStringList m_figures;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        QFile script(m_folder.filePath(QStringLiteral("script.txt")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(numberedScript(4 * 3600));
        script.close();
        m_server = std::make_unique<ServerChild>(m_folder.filePath(QStringLiteral("data")),
                                                 script.fileName());
        QString why;
        QVERIFY2(m_server->start(&why), qPrintable(why));
        m_seed = faultSeed();
        qInfo("seed %u (VERNALO_FAULT_SEED repeats it), %d outages of each kind", m_seed,
              outageCount());
    }

    void cleanupTestCase()
    {
        for (const QString &line : std::as_const(m_figures))
            qInfo("%s", qPrintable(line));
    }

    void recordingSurvivesOutages_data()
    {
        QTest::addColumn<Outage>("kind");
        QTest::newRow("server killed and restarted") << Outage::Kill;
        QTest::newRow("server frozen until the ping deadline") << Outage::Freeze;
    }

    void recordingSurvivesOutages()
    {
        QFETCH(Outage, kind);
        const QString name =
            kind == Outage::Kill ? QStringLiteral("kill") : QStringLiteral("freeze");
        QRandomGenerator random(m_seed + (kind == Outage::Kill ? 0 : 1));
        QVERIFY(m_server->isRunning());

        LiveRecordingRig rig(m_server->baseUrl());
        ServerCalls calls(m_server->baseUrl());
        QString why;
        QVERIFY2(rig.startRecording(&why), qPrintable(why));
        TranscriptionViewModel *vm = rig.controller();
        const QString sessionId = vm->sessionId();
        for (int i = 0; i < 30; ++i)
            rig.tick();

        QList<double> lostMs, downMs, forgottenMs, detectMs, backMs;
        for (int outage = 1; outage <= outageCount(); ++outage) {
            const QString where = QStringLiteral("%1 outage %2").arg(name).arg(outage);
            // A random phase against the finals, the pings and the pollers.
            const int leadTicks = static_cast<int>(random.bounded(50));
            for (int i = 0; i < leadTicks; ++i)
                rig.tick();
            const auto before = settledAudioBytes(calls, sessionId);
            QVERIFY2(before, qPrintable(where + QStringLiteral(": server count did not settle")));
            const qint64 producedBefore = rig.bytesProduced();
            const QStringList textsBefore = rig.segmentTexts();
            const QList<TranscriptSegment> segmentsBefore = vm->segments();
            const qint64 outageStart = rig.virtualMs();
            qint64 countAfterRestart = *before;

            if (kind == Outage::Kill) {
                m_server->kill();
                // A killed peer's sockets close at once; no virtual time passes until it shows.
                QVERIFY2(waitUntil([&] { return !rig.streamHealthy(); }), qPrintable(where));
                const int downTicks = 1 + static_cast<int>(random.bounded(30));
                for (int i = 0; i < downTicks; ++i)
                    rig.tick();
                QVERIFY2(vm->isRecording(),
                         qPrintable(where + QStringLiteral(" while down: ") + vm->statusText()));
                QVERIFY2(m_server->start(&why), qPrintable(where + QStringLiteral(": ") + why));
                downMs.append(rig.virtualMs() - outageStart);
                const auto restarted = calls.audioBytes(sessionId);
                QVERIFY2(restarted, qPrintable(where + QStringLiteral(": no meta after restart")));
                countAfterRestart = *restarted;
                forgottenMs.append(double(*before - *restarted) / LiveRecordingRig::kBytesPerMs);
            } else {
                m_server->freeze();
                rig.setAwaitAttempts(false);
                int ticks = 0;
                while (rig.streamHealthy() && ticks < 400) {
                    rig.tick();
                    ++ticks;
                }
                QVERIFY2(!rig.streamHealthy(),
                         qPrintable(where + QStringLiteral(": a frozen server went unnoticed")));
                detectMs.append(rig.virtualMs() - outageStart);
                // Sometimes the first reconnects also meet the frozen server.
                const int extraTicks = static_cast<int>(random.bounded(25));
                for (int i = 0; i < extraTicks; ++i)
                    rig.tick();
                m_server->thaw();
                rig.setAwaitAttempts(true);
                downMs.append(rig.virtualMs() - outageStart);
            }

            int ticks = 0;
            while (!rig.streamHealthy() && ticks < 600) {
                rig.tick();
                ++ticks;
                QVERIFY2(vm->isRecording(),
                         qPrintable(where + QStringLiteral(" ended: ") + vm->statusText()));
            }
            QVERIFY2(rig.streamHealthy(),
                     qPrintable(where + QStringLiteral(": no reconnect, ") + vm->statusText()));
            backMs.append(rig.virtualMs() - outageStart);
            // Three seconds of audio after the reconnect: new finals and a transcript poll.
            for (int i = 0; i < 30; ++i)
                rig.tick();
            QVERIFY2(vm->isRecording(),
                     qPrintable(where + QStringLiteral(": ") + vm->statusText()));

            const auto after = settledAudioBytes(calls, sessionId);
            QVERIFY2(after, qPrintable(where + QStringLiteral(": server count did not settle")));
            QVERIFY2(*after > countAfterRestart,
                     qPrintable(where + QStringLiteral(": no new audio reached the server")));
            const qint64 produced = rig.bytesProduced() - producedBefore;
            const qint64 received = *after - *before;
            // Held and resent audio fills the outage: every byte captured arrives, once.
            QVERIFY2(received == produced,
                     qPrintable(where +
                                QStringLiteral(": the server counted %1 bytes of %2 sent")
                                    .arg(received)
                                    .arg(produced)));
            lostMs.append(double(produced - received) / LiveRecordingRig::kBytesPerMs);

            // Finals the server made from audio of the dead socket never came over the stream:
            // the transcript poll must bring them in.
            const auto serverTexts = calls.transcriptTexts(sessionId);
            QVERIFY2(serverTexts, qPrintable(where + QStringLiteral(": no transcript")));
            // The server may still be turning that audio into finals, so the poll can need a few
            // rounds; fifteen seconds of virtual time are plenty.
            for (int i = 0; i < 150 &&
                 (vm->segments().size() < serverTexts->size() ||
                  !numberingFault(vm->segments()).isEmpty());
                 ++i)
                rig.tick();

            // Everything kept before is still there, unchanged, and nothing came twice.
            for (const TranscriptSegment &segment : segmentsBefore)
                QVERIFY2(vm->segments().contains(segment),
                         qPrintable(where + QStringLiteral(": lost \"") + segment.text + '"'));
            const QStringList texts = rig.segmentTexts();
            QVERIFY2(texts.size() > textsBefore.size(),
                     qPrintable(where + QStringLiteral(": no new final after the reconnect")));
            const QString fault = numberingFault(vm->segments());
            QVERIFY2(fault.isEmpty(),
                     qPrintable(where + QStringLiteral(": ") + fault +
                                QStringLiteral("; server: ") +
                                numberingFault(serverSegments(calls, sessionId))));
        }

        QVERIFY2(settledAudioBytes(calls, sessionId) && inStepWithServer(rig, calls, sessionId),
                 "the transcript did not catch up with the server's before the stop");
        QVERIFY(rig.stopRecording());
        const auto serverTexts = calls.transcriptTexts(sessionId);
        QVERIFY(serverTexts);
        QCOMPARE(numberingFault(asSegments(*serverTexts)), QString());
        const auto saved = rig.history().load(sessionId);
        QVERIFY2(saved, "the recording was not saved after the outages");
        QStringList savedTexts;
        for (const TranscriptSegment &segment : saved->segments)
            savedTexts.append(segment.text);
        QCOMPARE(savedTexts, *serverTexts);

        m_figures.append(QStringLiteral("%1: %2 outages, %3 finals kept, seed %4")
                             .arg(name)
                             .arg(outageCount())
                             .arg(savedTexts.size())
                             .arg(m_seed));
        m_figures.append(figureLine(name + QStringLiteral(" audio lost per outage"), lostMs,
                                    QStringLiteral("ms")));
        m_figures.append(figureLine(name + QStringLiteral(" outage (down until restart/thaw)"),
                                    downMs, QStringLiteral("ms")));
        m_figures.append(figureLine(name + QStringLiteral(" outage start to stream confirmed"),
                                    backMs, QStringLiteral("ms")));
        if (kind == Outage::Kill)
            m_figures.append(
                figureLine(QStringLiteral("kill counted audio forgotten by the server"),
                           forgottenMs, QStringLiteral("ms")));
        else
            m_figures.append(figureLine(QStringLiteral("freeze noticed by the ping deadline after"),
                                        detectMs, QStringLiteral("ms")));
    }

    // A stop pressed while the server is away waits for the reconnect: the audio held for the
    // new socket goes out before the stop message instead of being dropped with the stream.
    void stopDuringAnOutageKeepsTheHeldAudio()
    {
        QVERIFY(m_server->isRunning());
        LiveRecordingRig rig(m_server->baseUrl());
        ServerCalls calls(m_server->baseUrl());
        QString why;
        QVERIFY2(rig.startRecording(&why), qPrintable(why));
        TranscriptionViewModel *vm = rig.controller();
        const QString sessionId = vm->sessionId();
        for (int i = 0; i < 30; ++i)
            rig.tick();
        const auto before = settledAudioBytes(calls, sessionId);
        QVERIFY(before);
        const qint64 producedBefore = rig.bytesProduced();
        m_server->kill();
        QVERIFY(waitUntil([&] { return !rig.streamHealthy(); }));
        for (int i = 0; i < 10; ++i)
            rig.tick();
        const qint64 produced = rig.bytesProduced();
        vm->stopRecording();
        // Down for longer than the stop's grace and more than one reconnect attempt.
        for (int i = 0; i < 30; ++i)
            rig.tick();
        QVERIFY2(m_server->start(&why), qPrintable(why));
        // Until the new socket is up and has taken the held audio and the stop.
        for (int i = 0; i < 300 && !rig.streamHealthy(); ++i)
            rig.tick();
        QVERIFY2(rig.streamHealthy(), qPrintable(vm->statusText()));
        for (int i = 0; i < 20 && vm->isStoppingRecording(); ++i) {
            rig.tick();
            waitUntil([vm] { return !vm->isStoppingRecording(); }, 200);
        }
        QVERIFY2(!vm->isStoppingRecording(), qPrintable(vm->statusText()));
        const auto received = settledAudioBytes(calls, sessionId);
        QVERIFY(received);
        QCOMPARE(*received - *before, produced - producedBefore);
        QVERIFY(rig.history().load(sessionId));
    }

    // An outage longer than the whole reconnect budget ends the recording; what was transcribed
    // stays on screen and in the history.
    void recordingEndsWhenTheServerStaysAway()
    {
        QVERIFY(m_server->isRunning());
        LiveRecordingRig rig(m_server->baseUrl());
        QString why;
        QVERIFY2(rig.startRecording(&why), qPrintable(why));
        TranscriptionViewModel *vm = rig.controller();
        for (int i = 0; i < 35; ++i)
            rig.tick();
        // Everything the server made of that audio is on screen before the server goes away.
        ServerCalls calls(m_server->baseUrl());
        QVERIFY(settledAudioBytes(calls, vm->sessionId()));
        QVERIFY(inStepWithServer(rig, calls, vm->sessionId()));
        const QList<TranscriptSegment> before = vm->segments();

        m_server->kill();
        const qint64 killedAt = rig.virtualMs();
        qint64 peakBytes = 0;
        while (vm->isRecording() && rig.virtualMs() - killedAt < 60000) {
            if (rig.streamClient())
                peakBytes = std::max(peakBytes, rig.streamClient()->audioBufferPeakBytes());
            rig.tick();
        }
        const qint64 endedAfter = rig.virtualMs() - killedAt;
        QVERIFY2(m_server->start(&why), qPrintable(why));

        QVERIFY2(!vm->isRecording(), "the recording outlived the reconnect budget");
        QCOMPARE(vm->statusText(), QStringLiteral("Yhteys katkesi"));
        QCOMPARE(vm->segments(), before);
        // Kept in the history like any finished recording, with all it had.
        QVERIFY(waitUntil([vm] { return !vm->isStoppingRecording(); }));
        const auto saved = rig.history().load(vm->sessionId());
        QVERIFY2(saved, "the ended recording was not kept");
        QCOMPARE(saved->segments, before);
        // Eight back-off delays (0.4 + 0.8 + 1.6 + 3.2 + 4 x 4 s) and the ninth failure.
        QVERIFY2(endedAfter >= 22000 && endedAfter <= 23000,
                 qPrintable(QStringLiteral("ended after %1 ms").arg(endedAfter)));
        m_figures.append(
            QStringLiteral("server gone for good: recording ended after %1 ms").arg(endedAfter));
        // Everything after the last released chunk is held through the whole back-off.
        QVERIFY(peakBytes >= 22 * 32000 && peakBytes <= WebSocketStreamClient::kAudioBufferBytes);
        m_figures.append(
            QStringLiteral("audio buffer peak in that outage: %1 bytes").arg(peakBytes));
    }
};

VERNALO_TEST_MAIN(StreamOutagesTest)
#include "test_stream_outages.moc"
