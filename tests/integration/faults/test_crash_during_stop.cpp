// The core killed (SIGKILL) at random moments while it stops and saves a recording against the
// reference server. Afterwards no history file may be torn, no temporary file may pass for a
// session, and the start-up crash recovery of a fresh controller must bring back what the
// server holds as stopped, exactly once.
#include "fault_support.h"
#include "support/checked.h"
#include "support/controller_harness.h"
#include "support/socket_wait.h"
#include "support/test_environment.h"

#include <csignal>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

constexpr int kAudioSeconds = 3;

int crashCount()
{
    return iterationsFrom("VERNALO_CRASH_ITERATIONS", 50);
}

// One run of the driver, read line by line as it goes.
class DriverRun
{
public:
    DriverRun(const QString &backend, const QString &token, const QString &home,
              const QStringList &extra = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        // The driver's scratch folders, left behind by every kill, go with the test's.
        env.insert(QStringLiteral("TMPDIR"), home);
        m_process.setProcessEnvironment(env);
        const QStringList arguments {backend, token, QString::number(kAudioSeconds)};
        m_process.start(QStringLiteral(CRASH_DRIVER), arguments + extra);
    }
    ~DriverRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Waits for a line starting with `word`; returns what follows it.
    std::optional<QString> waitFor(const QString &word, int timeoutMs = 20000)
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < timeoutMs) {
            for (const QString &line : std::as_const(m_lines)) {
                if (line == word || line.startsWith(word + QLatin1Char(' ')))
                    return line.mid(word.size()).trimmed();
            }
            if (m_process.state() == QProcess::NotRunning && !m_process.bytesAvailable())
                return std::nullopt;
            m_process.waitForReadyRead(100);
            readLines();
        }
        return std::nullopt;
    }
    void kill(int signalNumber = SIGKILL)
    {
        ::kill(static_cast<pid_t>(m_process.processId()), signalNumber);
        m_process.waitForFinished(5000);
        readLines();
    }
    bool finishedCleanly(int timeoutMs = 20000)
    {
        m_process.waitForFinished(timeoutMs);
        readLines();
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    bool said(const QString &line) const { return m_lines.contains(line); }
    QString errors() { return QString::fromUtf8(m_process.readAllStandardError()); }

private:
    void readLines()
    {
        while (m_process.canReadLine())
            m_lines.append(QString::fromUtf8(m_process.readLine()).trimmed());
    }

    QProcess m_process;
    QStringList m_lines;
};

QStringList textsOf(const SavedSession &session)
{
    QStringList texts;
    for (const TranscriptSegment &segment : session.segments)
        texts.append(segment.text);
    return texts;
}

} // namespace

class CrashDuringStopTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    std::unique_ptr<ServerProcess> m_server;
    QString m_token;
    QString m_historyDir;

    QString home() const { return m_folder.filePath(QStringLiteral("home")); }

    QByteArray fileBytes(const QString &id) const
    {
        QFile file(SessionHistoryStore(m_historyDir).filePath(id));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Every *.json in the history decodes as the session its name says, and the list shows
    // exactly those; anything else there (an interrupted write's temporary file) is not listed.
    void checkHistoryIntact(const QString &where, int *strayFiles)
    {
        const SessionHistoryStore store(m_historyDir);
        const QDir dir(m_historyDir);
        QStringList jsonIds;
        int others = 0;
        for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden)) {
            if (!name.endsWith(QStringLiteral(".json")) || name.startsWith(QLatin1Char('.'))) {
                ++others;
                continue;
            }
            const QString id = name.chopped(5);
            QVERIFY2(store.load(id),
                     qPrintable(where + QStringLiteral(": torn history file ") + name));
            jsonIds.append(id);
        }
        QStringList listed;
        for (const SavedSessionListItem &item : store.list())
            listed.append(item.id);
        jsonIds.sort();
        listed.sort();
        QCOMPARE(listed, jsonIds);
        *strayFiles += others;
    }

    // A fresh controller over the same history, as after a restart of the application.
    void runStartupRecovery(const QString &where)
    {
        ControllerHarness harness;
        STTConfiguration config = STTConfiguration::defaults();
        config.baseURL = m_server->baseUrl().toString();
        harness.storeConfiguration(config);
        harness.history = std::make_unique<SessionHistoryStore>(m_historyDir);
        TranscriptionViewModel &vm = *harness.build();
        vm.updateAuthContext(QVariantMap {}, m_token);
        vm.runStartupCrashRecoveryIfNeeded();
        QVERIFY2(waitUntil([&] { return !vm.history()->isCrashRecoveryRunning(); }, 20000),
                 qPrintable(where + QStringLiteral(": recovery did not finish")));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QFile script(m_folder.filePath(QStringLiteral("script.txt")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(numberedScript(600));
        script.close();
        m_server = faultServer(m_folder.filePath(QStringLiteral("server")), script.fileName());
        QString why;
        QVERIFY2(m_server->start(&why), qPrintable(why));
        m_token = HttpCaller(m_server->baseUrl()).login("faults@vernalo.local", "faults");
        QVERIFY(!m_token.isEmpty());
        QVERIFY(QDir().mkpath(home()));
    }

    // The desktop session ending or `kill` mid-recording: the full transcript reaches the history.
    void sigtermWhileRecordingSavesTheTranscript()
    {
        DriverRun run(m_server->baseUrl().toString(), m_token, home(), {QStringLiteral("term")});
        const auto history = run.waitFor(QStringLiteral("history"));
        const auto session = run.waitFor(QStringLiteral("session"));
        QVERIFY2(history && session && run.waitFor(QStringLiteral("recording")),
                 qPrintable(run.errors()));
        run.kill(SIGTERM);
        QVERIFY2(run.said(QStringLiteral("stopped")), qPrintable(run.errors()));
        const auto saved = SessionHistoryStore(*history).load(*session);
        QVERIFY(saved);
        HttpCaller calls(m_server->baseUrl());
        calls.setAuthToken(m_token.toUtf8());
        QCOMPARE(textsOf(*saved), calls.transcriptTexts(*session).value_or(QStringList()));
        QCOMPARE(saved->segments.size(), kAudioSeconds);
    }

    void killsWhileStoppingLeaveARecoverableHistory()
    {
        const quint32 seed = faultSeed();
        const int rounds = crashCount();
        qInfo("seed %u (VERNALO_FAULT_SEED repeats it), %d kills", seed, rounds);
        QRandomGenerator random(seed);
        HttpCaller calls(m_server->baseUrl());
        calls.setAuthToken(m_token.toUtf8());

        // Uninterrupted runs first: how long a stop takes here decides the kill window.
        qint64 longestStopNs = 0;
        for (int i = 0; i < 3; ++i) {
            DriverRun run(m_server->baseUrl().toString(), m_token, home());
            const auto history = run.waitFor(QStringLiteral("history"));
            QVERIFY2(history, qPrintable(run.errors()));
            m_historyDir = *history;
            const auto session = run.waitFor(QStringLiteral("session"));
            QVERIFY2(session, qPrintable(run.errors()));
            QVERIFY(run.waitFor(QStringLiteral("stopping")));
            QElapsedTimer stop;
            stop.start();
            QVERIFY2(run.finishedCleanly(), qPrintable(run.errors()));
            longestStopNs = std::max(longestStopNs, stop.nsecsElapsed());
            const auto saved = SessionHistoryStore(m_historyDir).load(*session);
            QVERIFY2(saved, "an uninterrupted stop saved nothing");
            QCOMPARE(textsOf(*saved), calls.transcriptTexts(*session).value_or(QStringList()));
        }
        qInfo("uninterrupted stop takes up to %.1f ms; kills spread over 0..%.1f ms",
              longestStopNs / 1e6, longestStopNs * 1.2 / 1e6);

        int savedByDriver = 0, restored = 0, stillOpen = 0, completed = 0, strayFiles = 0;
        for (int round = 1; round <= rounds; ++round) {
            const QString where = QStringLiteral("kill %1").arg(round);
            DriverRun run(m_server->baseUrl().toString(), m_token, home());
            const auto session = run.waitFor(QStringLiteral("session"));
            QVERIFY2(session, qPrintable(where + QStringLiteral(": ") + run.errors()));
            QVERIFY2(run.waitFor(QStringLiteral("stopping")), qPrintable(where));
            const qint64 delayNs =
                static_cast<qint64>(random.bounded(static_cast<double>(longestStopNs) * 1.2));
            QElapsedTimer spin;
            spin.start();
            while (spin.nsecsElapsed() < delayNs) {
                // Busy: the kill lands at a precise point of the child's work.
            }
            run.kill();
            completed += run.said(QStringLiteral("stopped")) ? 1 : 0;

            CHECKED(checkHistoryIntact(where, &strayFiles));
            const bool savedBefore = SessionHistoryStore(m_historyDir).load(*session).has_value();
            const QByteArray fileBefore = fileBytes(*session);
            CHECKED(runStartupRecovery(where));
            CHECKED(checkHistoryIntact(where + QStringLiteral(" after recovery"), &strayFiles));

            const HttpResult meta = calls.stt("GET", QStringLiteral("/v1/sessions/") + *session);
            QVERIFY2(meta.status == 200, qPrintable(where + QStringLiteral(": no metadata")));
            const bool stopped =
                meta.json().value(QStringLiteral("status")).toString() == u"stopped";
            const auto serverTexts = calls.transcriptTexts(*session);
            QVERIFY2(serverTexts, qPrintable(where));
            const auto kept = SessionHistoryStore(m_historyDir).load(*session);
            // What the server holds as stopped is in the history, saved or recovered.
            if (stopped && !serverTexts->isEmpty())
                QVERIFY2(kept && textsOf(*kept) == *serverTexts,
                         qPrintable(where + u' ' + *session + QStringLiteral(": history [") +
                                    (kept ? textsOf(*kept).join(u',') : QString()) +
                                    QStringLiteral("], server [") + serverTexts->join(u',') +
                                    u']'));
            if (kept) {
                // Saved or recovered, the history holds each final once, in order.
                const QStringList texts = textsOf(*kept);
                for (qsizetype i = 0; i < texts.size(); ++i)
                    QVERIFY2(segmentNumber(texts[i]) == i + 1,
                             qPrintable(where + QStringLiteral(": ") + texts.join(u',')));
            }
            // A session the history already held is known to the recovery: left as it was.
            QVERIFY2(!savedBefore || fileBytes(*session) == fileBefore,
                     qPrintable(where + QStringLiteral(": recovery rewrote a saved session")));
            ++(savedBefore ? savedByDriver : kept ? restored : stillOpen);
            // Sessions left open by an early kill are ended here, as the server would after its
            // abandonment time; the next round's recovery must then restore this one too.
            if (!stopped)
                QCOMPARE(
                    calls.stt("POST", QStringLiteral("/v1/sessions/%1/stop").arg(*session)).status,
                    200);
        }
        qInfo("kills %d: saved before the kill %d, restored by recovery %d, open on the server "
              "at the kill %d, driver finished before the kill %d, temporary files left %d",
              rounds, savedByDriver, restored, stillOpen, completed, strayFiles);

        // The sessions ended after their kill came back through the next rounds' recoveries.
        runStartupRecovery(QStringLiteral("final recovery"));
        const HttpResult listed =
            calls.stt("GET", QStringLiteral("/v1/sessions?status=stopped&limit=100"));
        QCOMPARE(listed.status, 200);
        const SessionHistoryStore store(m_historyDir);
        int missing = 0;
        const QJsonArray stopped = listed.json().value(QStringLiteral("items")).toArray();
        QVERIFY2(!stopped.isEmpty(), "the server lists no stopped session");
        for (const QJsonValue &value : stopped) {
            const QString id = value.toObject().value(QStringLiteral("id")).toString();
            const auto texts = calls.transcriptTexts(id);
            if (texts && !texts->isEmpty() && !store.load(id))
                ++missing;
        }
        QCOMPARE(missing, 0);
    }
};

VERNALO_TEST_MAIN(CrashDuringStopTest)
#include "test_crash_during_stop.moc"
