// Kills a process that saves sessions at arbitrary moments, many times over, and checks that
// every session file is always one whole version: the last one the child reported, or the one
// it was writing when it died. Set VERNALO_CRASH_SEED to replay a run.
#include "crash_test_session.h"
#include "sessions/session_history_store.h"
#include "sessions/session_search_index.h"
#include "support/test_environment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

class SessionCrashTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void everyFileIsOldOrNewAfterSigkill()
    {
        constexpr int kRounds = 200;
        const quint32 seed = qEnvironmentVariableIsSet("VERNALO_CRASH_SEED")
            ? qEnvironmentVariable("VERNALO_CRASH_SEED").toUInt()
            : QRandomGenerator::global()->generate();
        qInfo("seed %u", seed);
        QRandomGenerator random(seed);

        QTemporaryDir root;
        const QString folder = root.filePath(QStringLiteral("sessions"));
        const SessionHistoryStore store(folder);
        QHash<int, qint64> committed; // slot -> version known to be on disk
        qint64 firstVersion = 0;
        int killedMidSave = 0;
        int concurrentReads = 0;

        for (int round = 0; round < kRounds; ++round) {
            QProcess child;
            child.start(QStringLiteral(SESSION_SAVE_CHILD),
                        {folder, QString::number(firstVersion)});
            QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));

            // Let the child finish a random number of saves (none to a few), then kill it:
            // by then it is already inside the next one.
            const int wanted = static_cast<int>(random.bounded(6));
            QList<qint64> reported;
            const auto readLines = [&] {
                while (child.canReadLine()) {
                    const QList<QByteArray> fields = child.readLine().trimmed().split(' ');
                    reported.append(fields.value(1).toLongLong());
                }
            };
            while (reported.size() < wanted) {
                QVERIFY2(child.canReadLine() || child.waitForReadyRead(10000),
                         qPrintable(QString::fromLocal8Bit(child.readAllStandardError())));
                readLines();
            }
            // Spread the kill over the whole of a save with a random amount of real work: reading
            // the history while the child writes it, which must never show a torn file either.
            for (int pass = static_cast<int>(random.bounded(4)); pass > 0; --pass) {
                for (const auto &item : store.list()) {
                    const auto session = store.load(item.id);
                    QVERIFY(session);
                    const int slot = item.id.back().unicode() - u'a';
                    QCOMPARE(*session, crashTestSession(slot, crashTestVersion(*session)));
                    ++concurrentReads;
                }
            }
            child.kill();
            QVERIFY(child.waitForFinished(10000));
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);
            readLines(); // lines written just before the kill

            for (qint64 i = 0; i < reported.size(); ++i) {
                QCOMPARE(reported[i], firstVersion + i);
                committed.insert(static_cast<int>(i % kCrashTestSlots), reported[i]);
            }
            const qint64 inFlightIndex = reported.size();
            const int inFlightSlot = static_cast<int>(inFlightIndex % kCrashTestSlots);
            const qint64 inFlightVersion = firstVersion + inFlightIndex;

            for (int slot = 0; slot < kCrashTestSlots; ++slot) {
                const QString path = store.filePath(crashTestSessionId(slot));
                QFile file(path);
                if (!file.exists()) {
                    QVERIFY2(
                        !committed.contains(slot),
                        qPrintable(QStringLiteral("round %1: %2 vanished").arg(round).arg(path)));
                    continue;
                }
                QVERIFY(file.open(QIODevice::ReadOnly));
                QString error;
                const auto session = SavedSession::decode(file.readAll(), &error);
                QVERIFY2(session,
                         qPrintable(
                             QStringLiteral("round %1: %2 torn: %3").arg(round).arg(path, error)));
                const qint64 version = crashTestVersion(*session);
                const bool isOld = committed.value(slot, -1) == version;
                const bool isNew = slot == inFlightSlot && version == inFlightVersion;
                QVERIFY2(isOld || isNew,
                         qPrintable(QStringLiteral("round %1: %2 holds version %3, not %4 or %5")
                                        .arg(round)
                                        .arg(path)
                                        .arg(version)
                                        .arg(committed.value(slot, -1))
                                        .arg(slot == inFlightSlot ? inFlightVersion : -1)));
                QCOMPARE(*session, crashTestSession(slot, version));
                if (isNew && !isOld)
                    ++killedMidSave; // committed, but killed before it could report
                committed.insert(slot, version);
            }
            firstVersion = inFlightVersion + 1;
        }

        // The history is intact as a whole, whatever the kills left beside it.
        QCOMPARE(store.list().size(), committed.size());
        const QStringList leftovers =
            QDir(folder).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".json."));
        qInfo("rounds %d, versions written %lld, killed after rename %d, concurrent reads %d, "
              "leftover temporary files %lld",
              kRounds, static_cast<long long>(firstVersion), killedMidSave, concurrentReads,
              static_cast<long long>(leftovers.size()));
    }

    // A kill at any moment of a save with the index attached, even inside the index update,
    // leaves an index that the next start brings back to exactly what the files hold.
    void indexMatchesTheFilesAfterSigkill()
    {
        QRandomGenerator random(QRandomGenerator::global()->generate());
        QTemporaryDir root;
        const QString folder = root.filePath(QStringLiteral("sessions"));
        SessionHistoryStore store(folder);
        qint64 firstVersion = 0;
        for (int round = 0; round < 15; ++round) {
            QProcess child;
            child.start(QStringLiteral(SESSION_SAVE_CHILD),
                        {folder, QString::number(firstVersion), QStringLiteral("index")});
            QVERIFY(child.waitForStarted());
            // Some saves, then the kill lands in the next one, spread by a random amount of work.
            QByteArray lines;
            for (int wanted = 1 + static_cast<int>(random.bounded(4));
                 lines.count('\n') < wanted;) {
                QVERIFY(child.waitForReadyRead(20000));
                lines += child.readAllStandardOutput();
            }
            for (int pass = static_cast<int>(random.bounded(3)); pass > 0; --pass)
                QVERIFY(!store.list().isEmpty());
            child.kill();
            QVERIFY(child.waitForFinished(10000));
            lines += child.readAllStandardOutput();
            firstVersion += lines.count('\n') + 1;

            SessionSearchIndex index(SessionSearchIndex::pathBeside(folder));
            index.synchronize(store);
            QHash<QString, QList<int>> found; // session -> segment indexes whose text matched
            for (const auto &hit : index.search(QStringLiteral("versio"), 5000)) {
                const auto session = store.load(hit.sessionId);
                QVERIFY2(session, qPrintable(hit.sessionId));
                const QString text = session->segments.value(hit.segmentIndex).text;
                QCOMPARE(hit.markedSnippet({}, {}, false), text); // not an older version's row
                found[hit.sessionId].append(hit.segmentIndex);
            }
            for (const auto &item : store.list())
                QCOMPARE(found.value(item.id).size(), item.segmentCount);
            QCOMPARE(found.size(), store.list().size());
        }
    }
};

VERNALO_TEST_MAIN(SessionCrashTest)
#include "test_session_crash.moc"
