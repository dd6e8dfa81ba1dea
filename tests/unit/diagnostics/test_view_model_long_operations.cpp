// Long operations the screens show as busy: the memo (generate, download, save) against a
// loopback backend, and the progress of a crash recovery run.
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

SavedSession memoSession()
{
    SavedSession session;
    session.id = QStringLiteral("memo-7");
    session.createdAt = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    session.endedAt = session.createdAt.addSecs(600);
    session.language = QStringLiteral("fi-FI");
    session.sttModel = QStringLiteral("chirp_3");
    session.segments.append({QUuid::createUuid(), QStringLiteral("Hyvää huomenta"),
                             session.createdAt.addMSecs(7250), QStringLiteral("S1")});
    session.segments.append({QUuid::createUuid(), QStringLiteral("Sanoi \"kyllä\"  "),
                             session.createdAt.addSecs(9), std::nullopt});
    session.segments.append({QUuid::createUuid(), QStringLiteral("kolmas"),
                             session.createdAt.addSecs(3600), QString()});
    return session;
}

// The same transcript as the memo request must carry it: nothing trimmed, seconds only, UTC,
// a speaker key only where the segment has one (also when it is empty).
QJsonArray expectedSegments()
{
    return QJsonArray {
        QJsonObject {{"text", QStringLiteral("Hyvää huomenta")},
                     {"ts", "2026-03-01T12:00:07Z"},
                     {"speakerLabel", "S1"}},
        QJsonObject {{"text", QStringLiteral("Sanoi \"kyllä\"  ")}, {"ts", "2026-03-01T12:00:09Z"}},
        QJsonObject {{"text", "kolmas"}, {"ts", "2026-03-01T13:00:00Z"}, {"speakerLabel", ""}},
    };
}

const QByteArray kSummary =
    R"({"sessionId":"memo-7","createdAt":"2026-03-01T12:10:00Z","summary":{"title":"Muistio"}})";

QByteArray documentBytes()
{
    // Binary, with zero bytes and bytes that are not UTF-8: must arrive untouched.
    QByteArray bytes("PK\x03\x04", 4);
    for (int i = 0; i < 5000; ++i)
        bytes.append(char(i * 7 % 256));
    return bytes;
}

} // namespace

class ViewModelLongOperationsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;
    std::unique_ptr<QTemporaryDir> chosen; // where the save dialog points, new for each test

    TranscriptionViewModel *buildWithMemoSession()
    {
        if (h->history->save(memoSession()))
            return nullptr;
        TranscriptionViewModel *vm = h->build();
        vm->loadSession(QStringLiteral("memo-7"));
        return vm;
    }

private Q_SLOTS:
    void init()
    {
        chosen = std::make_unique<QTemporaryDir>();
        h = std::make_unique<ControllerHarness>();
        QVERIFY(h->start());
    }
    void cleanup() { h.reset(); }

    void memo_data()
    {
        QTest::addColumn<int>("generateStatus");
        QTest::addColumn<QByteArray>("generateBody");
        QTest::addColumn<int>("documentStatus");
        QTest::addColumn<QString>("destination"); // "" cancels the dialog
        QTest::addColumn<bool>("existing");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("downloaded");
        QTest::addColumn<bool>("written");
        QTest::newRow("saved") << 200 << kSummary << 200 << "muistio.docx" << false
                               << "Muistio tallennettu: muistio.docx" << true << true;
        QTest::newRow("saved over an older file")
            << 200 << kSummary << 200 << "vanha.docx" << true << "Muistio tallennettu: vanha.docx"
            << true << true;
        QTest::newRow("dialog cancelled")
            << 200 << kSummary << 200 << "" << false << "Muistio valmis" << true << false;
        QTest::newRow("generation refused with the server's text")
            << 503 << QByteArray(R"({"error":"Muistiopalvelu ei ole käytettävissä"})") << 200
            << "muistio.docx" << false
            << "Muistion luonti epäonnistui: Muistiopalvelu ei ole käytettävissä" << false << false;
        QTest::newRow("generation answer not a summary")
            << 200 << QByteArray(R"({"sessionId":"memo-7"})") << 200 << "muistio.docx" << false
            << "Muistion luonti epäonnistui: Virheellinen palvelinvaste" << false << false;
        QTest::newRow("download fails")
            << 200 << kSummary << 500 << "muistio.docx" << false
            << "Muistion luonti epäonnistui: Palvelinvirhe (500)" << true << false;
        QTest::newRow("write fails") << 200 << kSummary << 200 << "ei-ole/muistio.docx" << false
                                     << "Muistion tallennus epäonnistui" << true << false;
    }
    void memo()
    {
        QFETCH(int, generateStatus);
        QFETCH(QByteArray, generateBody);
        QFETCH(int, documentStatus);
        QFETCH(QString, destination);
        QFETCH(bool, existing);
        QFETCH(QString, status);
        QFETCH(bool, downloaded);
        QFETCH(bool, written);
        const QByteArray document = documentBytes();
        h->backend.on("POST", "/v1/sessions/memo-7/summary",
                      ScriptedResponse::json(generateStatus, generateBody));
        h->backend.on(
            "GET", "/v1/sessions/memo-7/summary/docx",
            documentStatus == 200
                ? ScriptedResponse::withType(200, document,
                                             "application/vnd.openxmlformats-"
                                             "officedocument.wordprocessingml.document")
                : ScriptedResponse::withType(documentStatus, "<html>oops</html>", "text/html"));
        TranscriptionViewModel *vm = buildWithMemoSession();
        QVERIFY(vm);
        const QString target = destination.isEmpty() ? QString() : chosen->filePath(destination);
        const QByteArray older("older memo");
        if (existing) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(older);
        }
        h->desktop.saveAnswers.enqueue(target.isEmpty() ? std::nullopt
                                                        : std::optional<QString>(target));
        QSignalSpy busy(vm->support(), &SupportState::isGeneratingSummaryChanged);

        vm->generateSummaryDocx();
        QCOMPARE(vm->statusText(), QStringLiteral("Muodostetaan muistio..."));
        QVERIFY(vm->support()->isGeneratingSummary());
        QVERIFY(h->waitFor([&] { return !vm->support()->isGeneratingSummary(); }));
        QCOMPARE(busy.size(), 2);
        QCOMPARE(vm->statusText(), status);

        const QList<RecordedRequest> generated = h->requests("POST", "/v1/sessions/memo-7/summary");
        QCOMPARE(generated.size(), 1);
        QCOMPARE(generated.first().header("content-type"), QByteArray("application/json"));
        QCOMPARE(generated.first().json().object().value("transcriptSegments").toArray(),
                 expectedSegments());
        QCOMPARE(h->requests("GET", "/v1/sessions/memo-7/summary/docx").size(), downloaded ? 1 : 0);
        // The dialog only opens with a document in hand, proposing the session's name.
        const bool dialog = downloaded && documentStatus == 200;
        QCOMPARE(h->desktop.saveDialogs.size(), dialog ? 1 : 0);
        if (dialog)
            QCOMPARE(h->desktop.saveDialogs.first().suggestedFileName,
                     QStringLiteral("memo-7-muistio.docx"));
        if (!target.isEmpty()) {
            QFile file(target);
            if (written || existing) {
                QVERIFY(file.open(QIODevice::ReadOnly));
                QCOMPARE(file.readAll(), written ? document : older);
            } else {
                QVERIFY(!file.exists());
            }
        }
    }

    // Without a transcript to summarise, a session, or while recording: nothing is asked and
    // the status stays.
    void memoPreconditions_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("nothing loaded") << "empty";
        QTest::newRow("transcript cleared") << "cleared";
        QTest::newRow("recording") << "recording";
    }
    void memoPreconditions()
    {
        QFETCH(QString, state);
        TranscriptionViewModel *vm = nullptr;
        if (state == "recording") {
            vm = h->build();
            h->expectSession("live-1");
            QString why;
            QVERIFY2(h->startLive(&why), qPrintable(why));
            h->sendEvent(R"({"type":"final","text":"käynnissä","ts":"2026-03-01T12:00:00Z"})");
            QVERIFY(h->waitFor([&] { return vm->segments().size() == 1; }));
        } else if (state == "cleared") {
            vm = buildWithMemoSession();
            QVERIFY(vm);
            vm->clearTranscript();
        } else {
            vm = h->build();
        }
        const QString before = vm->statusText();
        vm->generateSummaryDocx();
        h->advance(std::chrono::milliseconds(0));
        QCOMPARE(vm->statusText(), before);
        QVERIFY(!vm->support()->isGeneratingSummary());
        for (const RecordedRequest &request : h->backend.requests())
            QVERIFY2(!request.path.endsWith("/summary"), qPrintable(request.path));
    }

    // Two presses make two requests, and the busy flag holds until the last one ends.
    void memoTwiceKeepsBusyUntilBothEnd()
    {
        h->backend.on("POST", "/v1/sessions/memo-7/summary", ScriptedResponse::json(200, kSummary));
        h->backend.on("GET", "/v1/sessions/memo-7/summary/docx",
                      ScriptedResponse::withType(200, documentBytes(), "application/octet-stream"));
        TranscriptionViewModel *vm = buildWithMemoSession();
        QVERIFY(vm);
        QSignalSpy busy(vm->support(), &SupportState::isGeneratingSummaryChanged);
        vm->generateSummaryDocx();
        vm->generateSummaryDocx();
        QVERIFY(h->waitFor([&] { return h->desktop.saveDialogs.size() == 2; }));
        QVERIFY(h->waitFor([&] { return !vm->support()->isGeneratingSummary(); }));
        QCOMPARE(busy.size(), 2);
        QCOMPARE(h->requests("POST", "/v1/sessions/memo-7/summary").size(), 2);
        QCOMPARE(vm->statusText(), QStringLiteral("Muistio valmis"));
    }

    // Progress runs from 0 to 1 over the listed sessions while the run is on, and each run
    // starts again from 0.
    void crashRecoveryProgress_data()
    {
        QTest::addColumn<int>("listStatus");
        QTest::addColumn<int>("sessions");
        QTest::addColumn<QList<double>>("steps");
        QTest::newRow("four sessions") << 200 << 4 << QList<double> {0.25, 0.5, 0.75, 1.0};
        QTest::newRow("nothing listed") << 200 << 0 << QList<double> {1.0};
        QTest::newRow("listing fails") << 500 << 0 << QList<double> {1.0};
    }
    void crashRecoveryProgress()
    {
        QFETCH(int, listStatus);
        QFETCH(int, sessions);
        QFETCH(QList<double>, steps);
        QJsonArray items;
        for (int i = 0; i < sessions; ++i) {
            const QString id = QStringLiteral("r%1").arg(i);
            items.append(QJsonObject {{"id", id}});
            h->backend.on("GET", "/v1/sessions/" + id + "/transcript",
                          ScriptedResponse::json(200,
                                                 QStringLiteral(R"({"sessionId":"%1",
                              "segments":[{"text":"rivi","ts":"2026-02-20T08:00:00Z"}]})")
                                                     .arg(id)
                                                     .toUtf8()));
        }
        h->backend.on("GET", "/v1/sessions",
                      ScriptedResponse::json(
                          listStatus, QJsonDocument(QJsonObject {{"items", items}}).toJson()));
        TranscriptionViewModel *vm = h->build();
        vm->updateAuthContext(QVariantMap {{"email", "a@example.com"}}, QStringLiteral("tok"));
        QList<QPair<double, bool>> seen;
        QObject::connect(vm->history(), &HistoryState::crashRecoveryProgressChanged, vm, [&] {
            seen.append(
                {vm->history()->crashRecoveryProgress(), vm->history()->isCrashRecoveryRunning()});
        });
        // The start-up run: it may store up to 6, so it walks all four.
        vm->runStartupCrashRecoveryIfNeeded();
        QVERIFY(h->waitFor([&] { return !vm->history()->isCrashRecoveryRunning(); }));
        QList<double> values;
        for (const auto &[progress, running] : seen) {
            QVERIFY(running);
            values.append(progress);
        }
        QCOMPARE(values, steps);

        seen.clear();
        vm->restoreLatestCrashedSessionFromDiagnostics();
        QVERIFY(h->waitFor([&] { return !vm->history()->isCrashRecoveryRunning(); }));
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.first().first, 0.0);
        QCOMPARE(seen.last().first, 1.0);
    }
};

VERNALO_TEST_MAIN(ViewModelLongOperationsTest)
#include "test_view_model_long_operations.moc"
