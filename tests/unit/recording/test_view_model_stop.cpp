// Stopping a recording and what the history keeps: the stop message and its grace period, the
// closing fetch and merge, the backend stop and its time-outs, the saved file and its automatic
// export, the session list, deleting sessions and crash recovery.
#include "recording/pending_deletion_retry.h"
#include "recording/recording_shutdown.h"
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QDir>
#include <QFile>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

QStringList historyIds(const SessionHistoryStore &store)
{
    QStringList ids;
    for (const SavedSessionListItem &item : store.list())
        ids.append(item.id);
    ids.sort();
    return ids;
}

} // namespace

class ViewModelStopTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;
    TranscriptionViewModel *vm = nullptr;

    QStringList savedTexts(const QString &id) const
    {
        const auto saved = h->savedSession(id);
        return saved ? ControllerHarness::texts(saved->segments) : QStringList {"<none>"};
    }
    void liveWith(const QString &text)
    {
        QVERIFY(h->startLive());
        QVERIFY(h->sayFinal(text, "2026-03-01T12:00:04Z", "S1"));
    }

private Q_SLOTS:
    void init()
    {
        h = std::make_unique<ControllerHarness>();
        QVERIFY(h->start());
        vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
    }
    void cleanup() { h.reset(); }

    // The stop asks the server to finish, waits the whole 1.2 s for its last finals, closes the
    // stream, merges the server's list once and stores exactly the merged segments, also as
    // the automatic export.
    void stopStoresTheMergedTranscript()
    {
        vm->settings()->setAutoExportEnabled(true);
        vm->settings()->setExportFormatName(QStringLiteral("txt"));
        CHECKED(liveWith("Hyvää huomenta."));
        h->setServerTranscript("rec-1", R"([
            {"text":"hyvää  huomenta.","ts":"2026-03-01T12:00:04Z","speakerLabel":"S1"},
            {"text":"Aloitetaan.","ts":"2026-03-01T12:00:05Z","speakerLabel":"S2"}])");
        vm->stopRecording();
        QVERIFY(h->waitFor([&] { return h->textFramesReceived().last() == R"({"type":"stop"})"; }));
        QVERIFY(!vm->canStart());
        h->advance(1199ms);
        QVERIFY(h->sayFinal("Vielä yksi.", "2026-03-01T12:00:07Z"));
        h->advance(1ms);
        QVERIFY(h->waitFor(
            [&] { return !vm->isStoppingRecording() && h->stream.connection().closed; }));
        QCOMPARE(h->stream.connection().clientCloseCode, std::optional<int>(1001));
        QCOMPARE(h->requests("POST", "/v1/sessions/rec-1/stop").size(), 1);

        const auto saved = h->savedSession("rec-1");
        QVERIFY(saved);
        QCOMPARE(ControllerHarness::texts(saved->segments),
                 (QStringList {"Hyvää huomenta.", "Aloitetaan.", "Vielä yksi."}));
        QCOMPARE(saved->segments[1].speakerLabel, std::optional<QString>("S2"));
        QCOMPARE(saved->segments[1].timestamp,
                 QDateTime(QDate(2026, 3, 1), QTime(12, 0, 5), Qt::UTC));
        QCOMPARE(saved->endedAt, h->clock.now());
        QCOMPARE(ControllerHarness::texts(vm->segments()),
                 ControllerHarness::texts(saved->segments));
        QVERIFY(vm->canStart() && h->audio.openStreams().isEmpty());
        const QString exported = QStringLiteral("rec-1-20260301-120001.txt");
        QCOMPARE(QDir(h->exportFolder()).entryList(QDir::Files), QStringList {exported});
        QFile file(h->exportFolder() + QLatin1Char('/') + exported);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readLine().trimmed(), QByteArray("[12:00:04] [S1] Hyvää huomenta."));
        // Clearing after the stop empties the screen, never the history.
        vm->clearTranscript();
        QVERIFY(vm->segments().isEmpty() && vm->sessionId().isEmpty() && !vm->canSave());
        QVERIFY(h->savedSession("rec-1"));
    }

    // Quitting while the closing fetch gets no answer: after the limit, what is on screen is in
    // the history anyway.
    void shutdownSavesWithinItsLimit()
    {
        CHECKED(liveWith("Ennen sulkemista."));
        h->backend.enqueue("GET", "/v1/sessions/rec-1/transcript", ScriptedResponse::silence());
        RecordingShutdown shutdown(vm, h->history.get(), &h->clock, &h->desktop);
        bool done = false;
        const auto quit = [](RecordingShutdown *s, bool *finished) -> QCoro::Task<> {
            co_await s->stopAndSave(5000ms);
            *finished = true;
        };
        quit(&shutdown, &done);
        h->advance(1200ms);
        QVERIFY(h->waitFor([&] { return h->backend.heldCount() == 1; }));
        QVERIFY(!done && !h->savedSession("rec-1"));
        h->advance(3800ms);
        QVERIFY(done);
        QCOMPARE(savedTexts("rec-1"), QStringList {"Ennen sulkemista."});
    }

    // Until its closing steps are done the stop owns the transcript: a new start is refused
    // (neither a session nor a capture), and so is clearing.
    void startDuringTheStopSequenceWaitsForIt()
    {
        CHECKED(liveWith("Ensimmäinen tallennus."));
        vm->stopRecording();
        vm->startRecording();
        vm->clearTranscript();
        QCOMPARE(vm->statusText(), QStringLiteral("Pysäytetään..."));
        QCOMPARE(h->requests("POST", "/v1/sessions").size(), 1);
        QVERIFY(h->audio.openStreams().isEmpty());
        QCOMPARE(vm->segments().size(), 1);
        QVERIFY(h->waitStopFinished());
        QCOMPARE(savedTexts("rec-1"), QStringList {"Ensimmäinen tallennus."});

        h->expectSession(QStringLiteral("rec-2"));
        CHECKED(liveWith("Toinen tallennus."));
        QVERIFY(h->stopAndFinish());
        QCOMPARE(savedTexts("rec-2"), QStringList {"Toinen tallennus."});
    }

    // The closing fetch and the backend stop are best effort: when they fail, or get no answer
    // until their time-out, the stop still ends and saves what the stream delivered.
    void closingRequestsMayFail_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("error answers") << false;
        QTest::newRow("no answer at all") << true;
    }
    void closingRequestsMayFail()
    {
        QFETCH(bool, silent);
        CHECKED(liveWith("Tämä jää talteen."));
        // Queued, the silence meets the closing requests and not the pollers.
        const auto script = silent ? &LoopbackHttpPeer::enqueue : &LoopbackHttpPeer::on;
        (h->backend.*script)("GET", "/v1/sessions/rec-1/transcript",
                             silent ? ScriptedResponse::silence()
                                    : ScriptedResponse::json(502, "{}"));
        (h->backend.*script)("POST", "/v1/sessions/rec-1/stop",
                             silent ? ScriptedResponse::silence()
                                    : ScriptedResponse::json(500, "{}"));
        vm->stopRecording();
        h->advance(1200ms);
        if (silent) {
            h->keepHeldRequestsAtExit();
            for (int held = 1; held <= 2; ++held) {
                QVERIFY(h->waitFor([&] { return h->backend.heldCount() == held; }));
                h->advance(59s);
                QVERIFY(vm->isStoppingRecording());
                h->advance(1s);
            }
        }
        QVERIFY(h->waitFor([&] { return !vm->isStoppingRecording(); }));
        QCOMPARE(savedTexts("rec-1"), QStringList {"Tämä jää talteen."});
    }

    // A history file that cannot be written: the failure is shown and the text stays on screen
    // for a manual save.
    void failedSaveIsReportedAndTheTextKept()
    {
        CHECKED(liveWith("Tärkeä päätös."));
        // A folder where the file should go makes the atomic replace fail.
        QVERIFY(QDir().mkpath(h->historyFolder() + QStringLiteral("/rec-1.json")));
        QVERIFY(h->stopAndFinish());
        QCOMPARE(vm->statusText(), QStringLiteral("Tallennus epäonnistui"));
        QCOMPARE(ControllerHarness::texts(vm->segments()), QStringList {"Tärkeä päätös."});
        QVERIFY(vm->canSave());
    }

    // Newest end first, each row labelled with its end; loading shows a session in time order
    // with its language and model, but not while a recording runs.
    void historyListAndLoading()
    {
        SavedSession morning = ControllerHarness::sessionOf(
            "morning", {"Aamun asia."}, QDateTime(QDate(2026, 2, 20), QTime(9, 0), Qt::UTC));
        morning.endedAt = morning.createdAt.addSecs(4500);
        // Started first but ended last.
        SavedSession noon = ControllerHarness::sessionOf("noon", {"Toinen.|S1", "Ensin tämä."},
                                                         morning.createdAt.addSecs(-3600));
        noon.endedAt = morning.endedAt.addSecs(7200);
        noon.segments[0].timestamp = noon.segments[1].timestamp.addSecs(5);
        noon.language = QStringLiteral("sv-SE");
        noon.sttModel = QStringLiteral("long");
        QVERIFY(h->storeSession(morning) && h->storeSession(noon));
        vm->refreshSessionHistory();
        SessionHistoryModel *model = vm->history()->model();
        QCOMPARE(model->count(), 2);
        QCOMPARE(model->data(model->index(0), SessionHistoryModel::SessionIdRole).toString(),
                 QStringLiteral("noon"));
        QCOMPARE(model->data(model->index(1), SessionHistoryModel::EndedAtLabelRole).toString(),
                 QStringLiteral("20.02.2026 10:15"));

        vm->loadSession(QStringLiteral("noon"));
        QCOMPARE(vm->sessionId(), QStringLiteral("noon"));
        QCOMPARE(vm->settings()->language(), QStringLiteral("sv-SE"));
        QCOMPARE(vm->settings()->sttModel(), QStringLiteral("long"));
        QCOMPARE(ControllerHarness::texts(vm->segments()),
                 (QStringList {"Ensin tämä.", "Toinen."}));
        vm->clearTranscript();
        QVERIFY(h->startLive());
        vm->loadSession(QStringLiteral("morning"));
        QCOMPARE(vm->sessionId(), QStringLiteral("rec-1"));
        QVERIFY(vm->segments().isEmpty());
    }

    // One server failure in the middle: every listed session goes locally, the failures are
    // counted, and a recording saved while the deletions ran stays. A second press does nothing.
    void deleteAllKeepsWhatArrivedMeanwhile()
    {
        for (const char *id : {"a", "b", "c"}) {
            QVERIFY(h->storeSession(ControllerHarness::sessionOf(id, {"rivi"})));
            h->backend.on("DELETE", QStringLiteral("/v1/sessions/") + id,
                          ScriptedResponse::json(*id == 'b' ? 500 : 200, "{}"));
        }
        vm->refreshSessionHistory();
        QObject::connect(&h->backend, &LoopbackHttpPeer::requestReceived, vm,
                         [this](const RecordedRequest &request) {
                             if (request.path == QStringLiteral("/v1/sessions/b"))
                                 QVERIFY(
                                     h->storeSession(ControllerHarness::sessionOf("late", {"x"})));
                         });
        vm->deleteAllSessions();
        vm->deleteAllSessions();
        QVERIFY(h->waitFor([&] { return !vm->history()->isDeletingSessions(); }));
        QCOMPARE(h->backend.requests().size(), 3);
        QCOMPARE(vm->statusText(),
                 QStringLiteral("Kaikki sessiot poistettu paikallisesti (1 palvelinpoistoa "
                                "epäonnistui)"));
        QCOMPARE(historyIds(*h->history), QStringList {"late"});
        QCOMPARE(vm->pendingServerDeletions(), QStringList {"b"});
    }

    // The start-up run restores the unknown sessions and skips the one in the history and the
    // one deleted here; it runs once per process.
    void recoveryRestoresOnlyWhatIsMissing()
    {
        QVERIFY(h->storeSession(ControllerHarness::sessionOf("known", {"x"})));
        QVERIFY(h->storeSession(ControllerHarness::sessionOf("gone", {"x"})));
        h->backend.on("DELETE", "/v1/sessions/gone", ScriptedResponse::json(503, "{}"));
        vm->refreshSessionHistory();
        vm->deleteSession(QStringLiteral("gone"));
        QVERIFY(h->waitFor([&] { return vm->statusText().startsWith("Sessio poistettu"); }));

        h->backend.on("GET", "/v1/sessions", ScriptedResponse::json(200, R"({"items":[
                {"id":" s1 ","createdAt":"2026-02-20T08:00:00Z","language":"sv-SE"},
                {"id":"known"},{"id":"gone"},{"id":""},{"id":"s2","sttModel":" "}]})"));
        for (const QString id : {"s1", "s2"})
            h->backend.on("GET", "/v1/sessions/" + id + "/transcript",
                          ScriptedResponse::json(200,
                                                 QStringLiteral(R"({"sessionId":"%1","segments":[
                {"text":" toka ","ts":"2026-02-20T08:00:09Z"},
                {"text":"eka","ts":"2026-02-20T08:00:03.500Z","speakerLabel":"S2"},
                {"text":"eka","ts":"2026-02-20T08:00:03.500Z"}]})")
                                                     .arg(id)
                                                     .toUtf8()));
        vm->updateAuthContext(QVariantMap {{"email", "a@example.com"}}, QStringLiteral("tok"));
        vm->runStartupCrashRecoveryIfNeeded();
        vm->runStartupCrashRecoveryIfNeeded();
        QVERIFY(h->waitFor([&] { return vm->statusText().startsWith("Crash-recovery"); }));
        QCOMPARE(historyIds(*h->history), (QStringList {"known", "s1", "s2"}));
        QCOMPARE(h->requests("GET", "/v1/sessions/known/transcript").size() +
                     h->requests("GET", "/v1/sessions/gone/transcript").size(),
                 0);
        const std::optional<SavedSession> s1 = h->savedSession("s1");
        QCOMPARE(s1->createdAt, QDateTime(QDate(2026, 2, 20), QTime(8, 0), Qt::UTC));
        // Duplicates collapse, the order is by time, and an absent end takes the last segment.
        QCOMPARE(ControllerHarness::texts(s1->segments), (QStringList {"eka", "toka"}));
        QCOMPARE(s1->endedAt, s1->segments.last().timestamp);
        QCOMPARE(h->savedSession("s2")->sttModel, h->storedConfiguration().defaultModel);
        QCOMPARE(h->requests("GET", "/v1/sessions").size(), 1);
    }

    // Deletions the server missed are asked again once signed in and then every few minutes,
    // until it confirms or says the session is gone; another user's are left to that user.
    void failedServerDeletionsAreRetriedUntilConfirmed()
    {
        h->settings->setValue(QLatin1String(TranscriptionViewModel::kPendingServerDeletionsKey),
                              QStringList {"a", "b", "c", "d"});
        h->settings->setValue(
            QLatin1String(TranscriptionViewModel::kPendingServerDeletionOwnersKey),
            QVariantMap {{"a", "a@example.com"}, {"d", "other@example.com"}});
        vm = h->build();
        PendingDeletionRetry retry(vm, h->settings.get(), h->api.get(), &h->clock);
        h->backend.on("DELETE", "/v1/sessions/a", ScriptedResponse::json(200, "{}"));
        h->backend.on("DELETE", "/v1/sessions/b", ScriptedResponse::json(503, "{}"));
        h->backend.on("DELETE", "/v1/sessions/c", ScriptedResponse::json(404, "{}"));
        retry.retryNow();
        QCOMPARE(h->backend.requests().size(), 0); // nobody signed in
        vm->updateAuthContext(QVariantMap {{"email", "a@example.com"}}, QStringLiteral("tok"));
        retry.retryNow();
        QVERIFY(h->waitFor([&] { return vm->pendingServerDeletions() == QStringList {"b", "d"}; }));
        h->backend.on("DELETE", "/v1/sessions/b", ScriptedResponse::json(204, ""));
        h->advance(PendingDeletionRetry::kRetryInterval);
        QVERIFY(h->waitFor([&] { return vm->pendingServerDeletions() == QStringList {"d"}; }));
        QCOMPARE(h->backend.requests().size(), 4); // a, c once, b twice, d never
        QCOMPARE(h->requests("DELETE", "/v1/sessions/b").size(), 2);
    }
};

VERNALO_TEST_MAIN(ViewModelStopTest)
#include "test_view_model_stop.moc"
