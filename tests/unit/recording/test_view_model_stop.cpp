// Stopping a recording: the stop message and its grace period, the closing fetch and merge, the
// backend stop, the saved history file, the automatic export, and a stop that cannot save.
#include "foundation/app_log.h"
#include "recording/recording_shutdown.h"
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

QStringList texts(const QList<TranscriptSegment> &segments)
{
    QStringList out;
    for (const TranscriptSegment &segment : segments)
        out << segment.text;
    return out;
}

QString logTail()
{
    AppLog::flush();
    return AppLog::snapshot(1 << 20);
}

} // namespace

class ViewModelStopTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;
    TranscriptionViewModel *vm = nullptr;

    void say(const QString &text, const QString &ts, const QString &speaker = {})
    {
        QVERIFY(h->sayFinal(text, ts, speaker));
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

    // The stop asks the server to finish, waits for its last finals, closes the stream, merges
    // the server's list once and stores exactly the merged segments.
    void stopStoresTheMergedTranscript()
    {
        QVERIFY(h->startLive());
        say("Hyvää huomenta.", "2026-03-01T12:00:02Z", "S1");
        h->setServerTranscript("rec-1", R"([
            {"text":"hyvää  huomenta.","ts":"2026-03-01T12:00:02Z","speakerLabel":"S1"},
            {"text":"Aloitetaan.","ts":"2026-03-01T12:00:05Z","speakerLabel":"S2"}])");

        vm->stopRecording();
        QVERIFY(h->waitFor([&] { return h->textFramesReceived().last() == R"({"type":"stop"})"; }));
        QVERIFY(!vm->canStart());
        // The grace period is the whole 1.2 s: a final the server sends just before its end is
        // still received and kept.
        h->advance(1199ms);
        say("Vielä yksi.", "2026-03-01T12:00:07Z");
        h->advance(1ms);
        QVERIFY(h->waitFor([&] { return !vm->isStoppingRecording(); }));
        QVERIFY(h->waitFor([&] { return h->stream.connection().closed; }));
        QCOMPARE(h->stream.connection().clientCloseCode, std::optional<int>(1001));
        QCOMPARE(h->requests("POST", "/v1/sessions/rec-1/stop").size(), 1);

        const auto saved = h->savedSession("rec-1");
        QVERIFY(saved);
        QCOMPARE(texts(saved->segments),
                 (QStringList {"Hyvää huomenta.", "Aloitetaan.", "Vielä yksi."}));
        QCOMPARE(saved->segments[1].speakerLabel, std::optional<QString>("S2"));
        QCOMPARE(saved->segments[1].timestamp,
                 QDateTime(QDate(2026, 3, 1), QTime(12, 0, 5), Qt::UTC));
        QCOMPARE(saved->createdAt, QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC));
        QCOMPARE(saved->endedAt, h->clock.now());
        QCOMPARE(saved->language, QStringLiteral("fi-FI"));
        QCOMPARE(saved->sttModel, QStringLiteral("chirp_3"));
        QCOMPARE(texts(vm->segments()), texts(saved->segments));
        QCOMPARE(vm->statusText(), QStringLiteral("Pysäytetty"));
        QCOMPARE(vm->history()->model()->count(), 1);
        QVERIFY(vm->canStart());
        QVERIFY(vm->canSave());
        QVERIFY(h->audio.openStreams().isEmpty());
    }

    // Quitting while the backend does not answer the closing fetch: after the limit, what is on
    // screen is in the history anyway.
    void shutdownSavesWithinItsLimit()
    {
        QVERIFY(h->startLive());
        say("Ennen sulkemista.", "2026-03-01T12:00:02Z");
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
        QCOMPARE(texts(h->savedSession("rec-1")->segments), QStringList {"Ennen sulkemista."});
    }

    // Until its closing steps are done the stop owns the transcript: a new start is refused
    // (neither a session nor a capture), and so are loading and clearing.
    void startDuringTheStopSequenceWaitsForIt()
    {
        QVERIFY(h->startLive());
        say("Ensimmäinen tallennus.", "2026-03-01T12:00:01Z");
        vm->stopRecording();
        QVERIFY(!vm->canStart());
        vm->startRecording();
        vm->clearTranscript();
        QCOMPARE(vm->statusText(), QStringLiteral("Pysäytetään..."));
        QCOMPARE(h->requests("POST", "/v1/sessions").size(), 1);
        QVERIFY(h->audio.openStreams().isEmpty());
        QCOMPARE(vm->segments().size(), 1);

        QVERIFY(h->waitStopFinished());
        QVERIFY(vm->canStart());
        QCOMPARE(texts(h->savedSession("rec-1")->segments), QStringList {"Ensimmäinen tallennus."});

        h->expectSession(QStringLiteral("rec-2"));
        QVERIFY(h->startLive());
        QCOMPARE(vm->sessionId(), QStringLiteral("rec-2"));
        QVERIFY(vm->segments().isEmpty());
        say("Toinen tallennus.", "2026-03-01T12:01:00Z");
        QVERIFY(h->stopAndFinish());
        QCOMPARE(texts(h->savedSession("rec-2")->segments), QStringList {"Toinen tallennus."});
        QCOMPARE(texts(h->savedSession("rec-1")->segments), QStringList {"Ensimmäinen tallennus."});
    }

    // The closing fetch and the backend stop are best effort: when they fail the stop still
    // saves what the stream delivered.
    void closingRequestsMayFail()
    {
        QVERIFY(h->startLive());
        say("Tämä jää talteen.", "2026-03-01T12:00:01Z");
        h->backend.on("GET", "/v1/sessions/rec-1/transcript",
                      ScriptedResponse::json(502, R"({"error":"bad gateway"})"));
        h->backend.on("POST", "/v1/sessions/rec-1/stop", ScriptedResponse::json(500, "{}"));
        QVERIFY(h->stopAndFinish());
        QCOMPARE(texts(h->savedSession("rec-1")->segments), QStringList {"Tämä jää talteen."});
        QCOMPARE(vm->statusText(), QStringLiteral("Pysäytetty"));
    }

    // A stop without any text tells what went out.
    void stopWithoutTranscriptExplains_data()
    {
        QTest::addColumn<int>("chunks");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("hintStart");
        QTest::newRow("nothing sent") << 0 << false << "Pysäytetty"
                                      << "";
        QTest::newRow("too short") << 5 << false << "Pysäytetty ilman transkriptiota"
                                   << "Tallennus jäi hyvin lyhyeksi";
        QTest::newRow("silence") << 30 << true << "Pysäytetty ilman transkriptiota"
                                 << "Äänitaso oli lähes nolla.";
        QTest::newRow("audible but no words") << 30 << false << "Pysäytetty ilman transkriptiota"
                                              << "Ääntä lähetettiin, mutta puheentunnistus";
    }
    void stopWithoutTranscriptExplains()
    {
        QFETCH(int, chunks);
        QFETCH(bool, silent);
        QFETCH(QString, status);
        QFETCH(QString, hintStart);
        QVERIFY(h->startLive());
        for (int i = 0; i < chunks; ++i)
            h->speak(silent ? QByteArray(3200, '\0') : ControllerHarness::testChunk(i));
        QVERIFY(h->waitAudioChunks(chunks));
        QVERIFY(h->stopAndFinish());
        QCOMPARE(vm->statusText(), status);
        QVERIFY2(hintStart.isEmpty() ? vm->diagnosticHint().isEmpty()
                                     : vm->diagnosticHint().startsWith(hintStart),
                 qPrintable(vm->diagnosticHint()));
        QVERIFY(!h->savedSession("rec-1"));
        QCOMPARE(vm->audioFramesSent(), 0);
        if (chunks > 0)
            QVERIFY(logTail().contains(
                QStringLiteral("stopRecording completed without transcript session=rec-1 "
                               "audioFrames=%1")
                    .arg(chunks)));
    }

    // A history file that cannot be written: the failure is logged and shown, and the text
    // stays on screen for a manual save.
    void failedSaveIsReportedAndTheTextKept()
    {
        QVERIFY(h->startLive());
        say("Tärkeä päätös.", "2026-03-01T12:00:04Z");
        // A folder where the file should go makes the atomic replace fail.
        QVERIFY(QDir().mkpath(h->historyFolder() + QStringLiteral("/rec-1.json")));
        QVERIFY(h->stopAndFinish());
        QCOMPARE(vm->statusText(), QStringLiteral("Tallennus epäonnistui"));
        QVERIFY(!vm->diagnosticHint().isEmpty());
        QCOMPARE(texts(vm->segments()), QStringList {"Tärkeä päätös."});
        QVERIFY(vm->canSave());
        QVERIFY(logTail().contains(QStringLiteral("stopRecording save failed session=rec-1")));
        QVERIFY(!h->savedSession("rec-1"));
    }

    void automaticExportAfterStop_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("off") << false << "txt"
                             << "";
        QTest::newRow("csv") << true << "csv"
                             << "timestamp,speaker,text";
        QTest::newRow("txt") << true << "txt"
                             << "[12:00:04] [S1] Päätös tehty.";
    }
    void automaticExportAfterStop()
    {
        QFETCH(bool, enabled);
        QFETCH(QString, format);
        QFETCH(QString, firstLine);
        vm->settings()->setAutoExportEnabled(enabled);
        vm->settings()->setExportFormatName(format);
        QVERIFY(h->startLive());
        say("Päätös tehty.", "2026-03-01T12:00:04Z", "S1");
        QVERIFY(h->stopAndFinish());

        const QStringList files = QDir(h->exportFolder()).entryList(QDir::Files);
        if (!enabled) {
            QVERIFY(files.isEmpty());
            QCOMPARE(vm->statusText(), QStringLiteral("Pysäytetty"));
            return;
        }
        const QString name = QStringLiteral("rec-1-20260301-120001.") + format;
        QCOMPARE(files, QStringList {name});
        // The export's own line is what the user sees last, not a plain "stopped".
        QCOMPARE(vm->statusText(), QStringLiteral("Auto-export: ") + name);
        QFile file(h->exportFolder() + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')).first(), firstLine);
    }
};

VERNALO_TEST_MAIN(ViewModelStopTest)
#include "test_view_model_stop.moc"
