// A live recording against the reference server as a child process, through repeated outages:
// the server killed and restarted on the same port and data, or frozen until the stream's ping
// deadline gives up on it. Each outage must leave the recording running, reconnected and
// sending, with every final it had kept and none twice; the audio each outage costs is printed.
#include "fault_support.h"
#include "live_recording_rig.h"
#include "support/socket_wait.h"
#include "support/test_environment.h"

#include <QDeadlineTimer>
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

// Waits for the server's answers until it has counted exactly the bytes the rig produced; a
// count that stops short (audio lost) or runs past it (audio twice) fails after the deadline.
bool serverCounted(qint64 expected, HttpCaller &calls, const QString &sessionId, QString *why)
{
    std::optional<qint64> counted;
    for (QDeadlineTimer deadline(30000); !deadline.hasExpired(); QTest::qWait(10)) {
        counted = calls.sessionCount(sessionId, QStringLiteral("audioBytes"));
        if (counted == expected)
            return true;
    }
    *why = QStringLiteral("the server counted %1 bytes of %2 sent")
               .arg(counted.value_or(-1))
               .arg(expected);
    return false;
}

bool serverCountedAll(LiveRecordingRig &rig, HttpCaller &calls, const QString &sessionId,
                      QString *why)
{
    return serverCounted(rig.bytesProduced(), calls, sessionId, why);
}

// Until the client shows exactly the server's transcript. The server's answers are awaited
// first: every byte counted and the one final per second of audio made (the script's numbering),
// so nothing is still on its way to it. A final the stream brings is awaited in real time; one
// made from audio of a dead socket only comes with a transcript poll, which needs virtual time:
// then one more tick, and the same again.
bool inStepWithServer(LiveRecordingRig &rig, HttpCaller &calls, const QString &sessionId,
                      QString *why)
{
    for (int round = 0; round < 100; ++round) {
        if (!serverCountedAll(rig, calls, sessionId, why))
            return false;
        const qsizetype finals = rig.bytesProduced() / (1000 * LiveRecordingRig::kBytesPerMs);
        std::optional<QStringList> serverTexts;
        for (QDeadlineTimer deadline(30000);
             !deadline.hasExpired() && serverTexts.value_or(QStringList()).size() != finals;
             QTest::qWait(10))
            serverTexts = calls.transcriptTexts(sessionId);
        if (serverTexts.value_or(QStringList()).size() != finals) {
            *why = QStringLiteral("the server made %1 finals of %2: %3")
                       .arg(serverTexts.value_or(QStringList()).size())
                       .arg(finals)
                       .arg(serverTexts.value_or(QStringList()).join(u','));
            return false;
        }
        if (waitUntil([&] { return rig.segmentTexts() == *serverTexts; }, 3000))
            return true;
        *why = QStringLiteral("client [%1], server [%2]")
                   .arg(rig.segmentTexts().join(u','), serverTexts->join(u','));
        rig.tick();
    }
    return false;
}

// The transcript must read "segment 1", "segment 2", ... with nothing missing or repeated; the
// fault names the first wrong place with its neighbours.
QString numberingFault(const QStringList &texts)
{
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (segmentNumber(texts[i]) != i + 1)
            return QStringLiteral("position %1 of %2: %3")
                .arg(i + 1)
                .arg(texts.size())
                .arg(texts.mid(std::max<qsizetype>(0, i - 2), 12).join(u','));
    }
    return {};
}

} // namespace

Q_DECLARE_METATYPE(Outage)

class StreamOutagesTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    std::unique_ptr<ServerProcess> m_server;
    quint32 m_seed = 0;
    QStringList m_figures;

    // A recording against the server, live after three seconds of audio.
    std::unique_ptr<LiveRecordingRig> startRig()
    {
        auto rig = std::make_unique<LiveRecordingRig>(m_server->baseUrl());
        QString why;
        if (!m_server->isRunning() || !rig->startRecording(&why)) {
            qWarning("no recording: %s", qPrintable(why));
            return nullptr;
        }
        for (int i = 0; i < 30; ++i)
            rig->tick();
        return rig;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QFile script(m_folder.filePath(QStringLiteral("script.txt")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(numberedScript(4 * 3600));
        script.close();
        m_server = faultServer(m_folder.filePath(QStringLiteral("data")), script.fileName());
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

    // Each outage must leave the recording running, reconnected and sending, with every byte
    // captured counted by the server once and every final it had kept, none twice.
    void recordingSurvivesOutages()
    {
        QFETCH(Outage, kind);
        const bool kill = kind == Outage::Kill;
        const QString name = kill ? QStringLiteral("kill") : QStringLiteral("freeze");
        QRandomGenerator random(m_seed + (kill ? 0 : 1));
        const auto rig = startRig();
        QVERIFY(rig);
        HttpCaller calls(m_server->baseUrl());
        TranscriptionViewModel *vm = rig->controller();
        const QString sessionId = vm->sessionId();
        QString why;

        QList<double> downMs, forgottenMs, detectMs, backMs;
        for (int outage = 1; outage <= outageCount(); ++outage) {
            const QString where = QStringLiteral("%1 outage %2: ").arg(name).arg(outage);
            // A random phase against the finals, the pings and the pollers.
            for (int i = static_cast<int>(random.bounded(50)); i > 0; --i)
                rig->tick();
            QVERIFY2(serverCountedAll(*rig, calls, sessionId, &why), qPrintable(where + why));
            const qint64 countedBefore = rig->bytesProduced();
            const QList<TranscriptSegment> segmentsBefore = vm->segments();
            const qint64 outageStart = rig->virtualMs();
            if (kill) {
                m_server->kill();
                // A killed peer's sockets close at once; no virtual time passes until it shows.
                QVERIFY2(waitUntil([&] { return !rig->streamHealthy(); }), qPrintable(where));
                for (int i = 1 + static_cast<int>(random.bounded(30)); i > 0; --i)
                    rig->tick();
                QVERIFY2(vm->isRecording(), qPrintable(where + vm->statusText()));
                QVERIFY2(m_server->start(&why), qPrintable(where + why));
                const auto restarted = calls.sessionCount(sessionId, QStringLiteral("audioBytes"));
                QVERIFY2(restarted, qPrintable(where + QStringLiteral("no meta after restart")));
                forgottenMs.append(double(countedBefore - *restarted) /
                                   LiveRecordingRig::kBytesPerMs);
            } else {
                m_server->freeze(true);
                rig->setAwaitAttempts(false);
                for (int i = 0; i < 400 && rig->streamHealthy(); ++i)
                    rig->tick();
                QVERIFY2(!rig->streamHealthy(),
                         qPrintable(where + "a frozen server went unnoticed"));
                detectMs.append(rig->virtualMs() - outageStart);
                // Sometimes the first reconnects also meet the frozen server.
                for (int i = static_cast<int>(random.bounded(25)); i > 0; --i)
                    rig->tick();
                m_server->freeze(false);
                rig->setAwaitAttempts(true);
            }
            downMs.append(rig->virtualMs() - outageStart);
            for (int i = 0; i < 600 && !rig->streamHealthy() && vm->isRecording(); ++i)
                rig->tick();
            QVERIFY2(rig->streamHealthy(), qPrintable(where + "no reconnect, " + vm->statusText()));
            backMs.append(rig->virtualMs() - outageStart);
            // Three seconds of audio after the reconnect: new finals and a transcript poll.
            for (int i = 0; i < 30; ++i)
                rig->tick();
            QVERIFY2(vm->isRecording(), qPrintable(where + vm->statusText()));
            // Held and resent audio fills the outage: every byte captured arrives, once; finals
            // made of the dead socket's audio come with the transcript poll.
            QVERIFY2(inStepWithServer(*rig, calls, sessionId, &why), qPrintable(where + why));
            for (const TranscriptSegment &segment : segmentsBefore)
                QVERIFY2(vm->segments().contains(segment),
                         qPrintable(where + "lost \"" + segment.text + '"'));
            QVERIFY2(vm->segments().size() > segmentsBefore.size(),
                     qPrintable(where + "no new final after the reconnect"));
            const QString fault = numberingFault(rig->segmentTexts());
            QVERIFY2(fault.isEmpty(), qPrintable(where + fault));
        }

        QVERIFY2(inStepWithServer(*rig, calls, sessionId, &why), qPrintable(why));
        QVERIFY(rig->stopRecording());
        const auto serverTexts = calls.transcriptTexts(sessionId);
        QVERIFY(serverTexts);
        QCOMPARE(numberingFault(*serverTexts), QString());
        const auto saved = rig->history().load(sessionId);
        QVERIFY2(saved, "the recording was not saved after the outages");
        QStringList savedTexts;
        for (const TranscriptSegment &segment : saved->segments)
            savedTexts.append(segment.text);
        QCOMPARE(savedTexts, *serverTexts);

        m_figures
            << QStringLiteral("%1: %2 outages, %3 finals kept, seed %4")
                   .arg(name)
                   .arg(outageCount())
                   .arg(savedTexts.size())
                   .arg(m_seed)
            << figureLine(name + " outage (down until restart/thaw)", downMs, "ms")
            << figureLine(name + " outage start to stream confirmed", backMs, "ms")
            << (kill ? figureLine("kill counted audio forgotten by the server", forgottenMs, "ms")
                     : figureLine("freeze noticed by the ping deadline after", detectMs, "ms"));
    }

    // A stop pressed while the server is away waits for the reconnect: the audio held for the
    // new socket goes out before the stop message instead of being dropped with the stream.
    void stopDuringAnOutageKeepsTheHeldAudio()
    {
        const auto rig = startRig();
        QVERIFY(rig);
        HttpCaller calls(m_server->baseUrl());
        TranscriptionViewModel *vm = rig->controller();
        QString why;
        QVERIFY2(serverCountedAll(*rig, calls, vm->sessionId(), &why), qPrintable(why));
        m_server->kill();
        QVERIFY(waitUntil([&] { return !rig->streamHealthy(); }));
        for (int i = 0; i < 10; ++i)
            rig->tick();
        vm->stopRecording();
        // Chunks after the stop reach no one: the server must count the audio up to here.
        const qint64 produced = rig->bytesProduced();
        // Down for longer than the stop's grace and more than one reconnect attempt.
        for (int i = 0; i < 30; ++i)
            rig->tick();
        QVERIFY2(m_server->start(&why), qPrintable(why));
        // Until the new socket is up and has taken the held audio and the stop.
        for (int i = 0; i < 300 && !rig->streamHealthy(); ++i)
            rig->tick();
        QVERIFY2(rig->streamHealthy(), qPrintable(vm->statusText()));
        for (int i = 0; i < 20 && vm->isStoppingRecording(); ++i) {
            rig->tick();
            waitUntil([vm] { return !vm->isStoppingRecording(); }, 200);
        }
        QVERIFY2(!vm->isStoppingRecording(), qPrintable(vm->statusText()));
        QVERIFY2(serverCounted(produced, calls, vm->sessionId(), &why), qPrintable(why));
        QVERIFY(rig->history().load(vm->sessionId()));
    }

    // An outage longer than the whole reconnect budget ends the recording; what was transcribed
    // stays on screen and in the history.
    void recordingEndsWhenTheServerStaysAway()
    {
        const auto rig = startRig();
        QVERIFY(rig);
        TranscriptionViewModel *vm = rig->controller();
        rig->tick();
        // Everything the server made of that audio is on screen before the server goes away.
        HttpCaller calls(m_server->baseUrl());
        QString why;
        QVERIFY2(inStepWithServer(*rig, calls, vm->sessionId(), &why), qPrintable(why));
        const QList<TranscriptSegment> before = vm->segments();

        m_server->kill();
        const qint64 killedAt = rig->virtualMs();
        qint64 peakBytes = 0;
        while (vm->isRecording() && rig->virtualMs() - killedAt < 60000) {
            if (rig->streamClient())
                peakBytes = std::max(peakBytes, rig->streamClient()->audioBufferPeakBytes());
            rig->tick();
        }
        const qint64 endedAfter = rig->virtualMs() - killedAt;
        QVERIFY2(m_server->start(&why), qPrintable(why));

        QVERIFY2(!vm->isRecording(), "the recording outlived the reconnect budget");
        QCOMPARE(vm->statusText(), QStringLiteral("Yhteys katkesi"));
        QCOMPARE(vm->segments(), before);
        QVERIFY(waitUntil([vm] { return !vm->isStoppingRecording(); }));
        const auto saved = rig->history().load(vm->sessionId());
        QVERIFY2(saved, "the ended recording was not kept");
        QCOMPARE(saved->segments, before);
        // Eight back-off delays (0.4 + 0.8 + 1.6 + 3.2 + 4 x 4 s) and the ninth failure.
        QVERIFY2(endedAfter >= 22000 && endedAfter <= 23000,
                 qPrintable(QStringLiteral("ended after %1 ms").arg(endedAfter)));
        // Everything after the last released chunk is held through the whole back-off.
        QVERIFY(peakBytes >= 22 * 32000 && peakBytes <= WebSocketStreamClient::kAudioBufferBytes);
        m_figures << QStringLiteral("server gone for good: recording ended after %1 ms, audio "
                                    "buffer peak %2 bytes")
                         .arg(endedAfter)
                         .arg(peakBytes);
    }
};

VERNALO_TEST_MAIN(StreamOutagesTest)
#include "test_stream_outages.moc"
