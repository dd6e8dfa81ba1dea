// Deleting sessions and crash recovery against a loopback backend: what stays in the history,
// what is reported, and that a deleted session does not come back.
#include "recording/pending_deletion_retry.h"
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

SavedSession storedSession(const QString &id)
{
    SavedSession session;
    session.id = id;
    session.createdAt = QDateTime(QDate(2026, 2, 20), QTime(9, 0), Qt::UTC);
    session.endedAt = session.createdAt.addSecs(60);
    session.language = QStringLiteral("fi-FI");
    session.sttModel = QStringLiteral("chirp_3");
    session.segments.append({QUuid::createUuid(), QStringLiteral("Rivi ") + id,
                             session.createdAt.addSecs(5), std::nullopt});
    return session;
}

QStringList historyIds(const SessionHistoryStore &store)
{
    QStringList ids;
    for (const SavedSessionListItem &item : store.list())
        ids.append(item.id);
    ids.sort();
    return ids;
}

} // namespace

class ViewModelRecoveryTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;

private Q_SLOTS:
    void init()
    {
        h = std::make_unique<ControllerHarness>();
        QVERIFY(h->start());
    }
    void cleanup() { h.reset(); }

    // One server failure in the middle: every listed session goes locally, the count of server
    // failures is reported, and a recording saved while the deletions ran stays.
    void deleteAllKeepsWhatArrivedMeanwhile()
    {
        for (const char *id : {"a", "b", "c"})
            QVERIFY(!h->history->save(storedSession(QString::fromLatin1(id))));
        TranscriptionViewModel *vm = h->build();
        h->backend.on("DELETE", QStringLiteral("/v1/sessions/a"),
                      ScriptedResponse::json(200, "{}"));
        h->backend.on("DELETE", QStringLiteral("/v1/sessions/b"),
                      ScriptedResponse::json(500, R"({"error":"boom"})"));
        h->backend.on("DELETE", QStringLiteral("/v1/sessions/c"),
                      ScriptedResponse::json(200, "{}"));
        QObject::connect(&h->backend, &LoopbackHttpPeer::requestReceived, vm,
                         [this](const RecordedRequest &request) {
                             if (request.path == QStringLiteral("/v1/sessions/b"))
                                 QVERIFY(!h->history->save(storedSession("late")));
                         });
        // A second press while the first runs changes nothing.
        vm->deleteAllSessions();
        QVERIFY(vm->history()->isDeletingSessions() && vm->history()->isDeletingAllSessions());
        vm->deleteAllSessions();
        QVERIFY(h->waitFor([&] { return vm->statusText().startsWith("Kaikki sessiot"); }));
        QVERIFY(!vm->history()->isDeletingSessions() && !vm->history()->isDeletingAllSessions());
        int deletions = 0;
        for (const RecordedRequest &request : h->backend.requests())
            deletions += request.method == "DELETE" ? 1 : 0;
        QCOMPARE(deletions, 3);
        QCOMPARE(vm->statusText(),
                 QStringLiteral("Kaikki sessiot poistettu paikallisesti (1 palvelinpoistoa "
                                "epäonnistui)"));
        QCOMPARE(historyIds(*h->history), QStringList {"late"});
        QCOMPARE(vm->pendingServerDeletions(), QStringList {"b"});
    }

    // The quiet start-up run restores the two unknown sessions and skips the one in the history
    // and the one deleted here whose server deletion failed; it runs once per process, and a
    // hand run afterwards finds nothing new.
    void recoveryRestoresOnlyWhatIsMissing()
    {
        QVERIFY(!h->history->save(storedSession("known")));
        QVERIFY(!h->history->save(storedSession("gone")));
        h->backend.on("DELETE", QStringLiteral("/v1/sessions/gone"),
                      ScriptedResponse::json(503, R"({"error":"busy"})"));
        TranscriptionViewModel *vm = h->build();
        vm->deleteSession(QStringLiteral("gone"));
        QVERIFY(vm->history()->isDeletingSessions() && !vm->history()->isDeletingAllSessions());
        QVERIFY(h->waitFor([&] { return vm->statusText().startsWith("Sessio poistettu"); }));
        QVERIFY(!vm->history()->isDeletingSessions());

        h->backend.on("GET", QStringLiteral("/v1/sessions"),
                      ScriptedResponse::json(200, R"({"items":[
                {"id":" s1 ","createdAt":"2026-02-20T08:00:00Z","language":"sv-SE"},
                {"id":"known"},{"id":"gone"},{"id":""},{"id":"s2","sttModel":" "}]})"));
        for (const QString id : {"s1", "known", "gone", "s2"})
            h->backend.on("GET", QStringLiteral("/v1/sessions/%1/transcript").arg(id),
                          ScriptedResponse::json(200,
                                                 QStringLiteral(R"({"sessionId":"%1","segments":[
                {"text":" toka ","ts":"2026-02-20T08:00:09Z"},
                {"text":"eka","ts":"2026-02-20T08:00:03.500Z","speakerLabel":"S2"},
                {"text":"eka","ts":"2026-02-20T08:00:03.500Z"}]})")
                                                     .arg(id)
                                                     .toUtf8()));
        vm->updateAuthContext(QVariantMap {{"email", "a@example.com"}}, QStringLiteral("tok"));
        for (int run = 0; run < 2; ++run)
            vm->runStartupCrashRecoveryIfNeeded();
        QVERIFY(h->waitFor([&] {
            return !vm->history()->isCrashRecoveryRunning() &&
                vm->statusText().startsWith("Crash-recovery");
        }));
        QCOMPARE(vm->statusText(), QStringLiteral("Crash-recovery: palautettu 2 sessiota"));
        QCOMPARE(historyIds(*h->history), (QStringList {"known", "s1", "s2"}));
        QCOMPARE(h->requests("GET", QStringLiteral("/v1/sessions/known/transcript")).size(), 0);
        QCOMPARE(h->requests("GET", QStringLiteral("/v1/sessions/gone/transcript")).size(), 0);
        const std::optional<SavedSession> s1 = h->savedSession("s1");
        QVERIFY(s1);
        QCOMPARE(s1->language, QStringLiteral("sv-SE"));
        QCOMPARE(s1->createdAt, QDateTime(QDate(2026, 2, 20), QTime(8, 0), Qt::UTC));
        // Duplicates collapse, the order is by time, and an absent end takes the last segment.
        QCOMPARE(s1->segments.size(), 2);
        QCOMPARE(s1->segments.first().text, QStringLiteral("eka"));
        QCOMPARE(s1->endedAt, s1->segments.last().timestamp);
        QCOMPARE(h->savedSession("s2")->sttModel, h->storedConfiguration().defaultModel);

        vm->restoreLatestCrashedSessionFromDiagnostics();
        QVERIFY(h->waitFor([&] {
            return !vm->history()->isCrashRecoveryRunning() &&
                vm->statusText().startsWith("Viimeisin");
        }));
        QCOMPARE(vm->statusText(),
                 QStringLiteral("Viimeisin kaatunut sessio oli jo historiassa: s1"));
        QCOMPARE(h->requests("GET", QStringLiteral("/v1/sessions")).size(), 2);
        QCOMPARE(h->requests("GET", QStringLiteral("/v1/sessions/s1/transcript")).size(), 1);
        QCOMPARE(vm->history()->selectedSessionHistoryId(), QStringLiteral("s1"));
    }

    // Deletions the server missed are asked again once signed in and then every few minutes,
    // until it confirms or says the session is gone; the list survives a new controller.
    void failedServerDeletionsAreRetriedUntilConfirmed()
    {
        h->settings->setValue(QLatin1String(TranscriptionViewModel::kPendingServerDeletionsKey),
                              QStringList {"a", "b", "c", "d"});
        // "d" was deleted by another user: this user's token would only be told 404.
        h->settings->setValue(
            QLatin1String(TranscriptionViewModel::kPendingServerDeletionOwnersKey),
            QVariantMap {{"a", "a@example.com"}, {"d", "other@example.com"}});
        TranscriptionViewModel *vm = h->build();
        PendingDeletionRetry retry(vm, h->settings.get(), h->api.get(), &h->clock);
        h->backend.on("DELETE", "/v1/sessions/a", ScriptedResponse::json(200, "{}"));
        h->backend.on("DELETE", "/v1/sessions/b", ScriptedResponse::json(503, R"({"error":"x"})"));
        h->backend.on("DELETE", "/v1/sessions/c", ScriptedResponse::json(404, R"({"error":"x"})"));
        retry.retryNow();
        QCOMPARE(h->backend.requests().size(), 0); // nobody signed in
        vm->updateAuthContext(QVariantMap {{"email", "a@example.com"}}, QStringLiteral("tok"));
        retry.retryNow();
        QVERIFY(h->waitFor([&] { return vm->pendingServerDeletions() == QStringList {"b", "d"}; }));
        h->backend.on("DELETE", "/v1/sessions/b", ScriptedResponse::json(204, ""));
        h->advance(PendingDeletionRetry::kRetryInterval);
        QVERIFY(h->waitFor([&] { return vm->pendingServerDeletions() == QStringList {"d"}; }));
        QCOMPARE(h->requests("DELETE", "/v1/sessions/d").size(), 0);
        QCOMPARE(h->requests("DELETE", "/v1/sessions/b").size(), 2);
        QCOMPARE(h->requests("DELETE", "/v1/sessions/a").size(), 1);
    }
};

VERNALO_TEST_MAIN(ViewModelRecoveryTest)
#include "test_view_model_recovery.moc"
