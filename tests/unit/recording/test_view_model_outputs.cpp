// The controller's output and settings actions: prompts and the clipboard key reach storage,
// the transcript save through the dialog, and the update check against a loopback manifest.
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

SavedSession twoLineSession()
{
    SavedSession session;
    session.id = QStringLiteral("memo-7");
    session.createdAt = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    session.endedAt = session.createdAt.addSecs(600);
    session.language = QStringLiteral("fi-FI");
    session.sttModel = QStringLiteral("chirp_3");
    session.segments.append({QUuid::createUuid(), QStringLiteral("Hyvää huomenta"),
                             session.createdAt.addSecs(7), QStringLiteral("S1")});
    session.segments.append({QUuid::createUuid(), QStringLiteral("Sanoi \"kyllä\""),
                             session.createdAt.addSecs(9), std::nullopt});
    return session;
}

} // namespace

class ViewModelOutputsTest : public QObject
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

    // What the user typed is trimmed and stored; a cancelled prompt stores nothing.
    void promptsStoreTheTrimmedAnswer_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<bool>("stored");
        QTest::newRow("backend address") << 0 << std::optional<QString>(" http://h:1 \n") << true;
        QTest::newRow("api key") << 1 << std::optional<QString>("\tk-42 ") << true;
        QTest::newRow("manifest address")
            << 2 << std::optional<QString>(" http://m/l.json") << true;
        QTest::newRow("cancelled key") << 1 << std::optional<QString>() << false;
    }
    void promptsStoreTheTrimmedAnswer()
    {
        QFETCH(int, which);
        QFETCH(std::optional<QString>, answer);
        QFETCH(bool, stored);
        TranscriptionViewModel *vm = h->build();
        const STTConfiguration before = h->storedConfiguration();
        h->desktop.promptAnswers.enqueue(answer);
        if (which == 0)
            vm->promptForBackendURL();
        else if (which == 1)
            vm->promptForAPIKey();
        else
            vm->promptForUpdateManifestURL();
        QVERIFY(h->waitFor([&] { return h->desktop.prompts.size() == 1; }));
        h->advance(std::chrono::milliseconds(0));
        // The key is typed into a masked field.
        QCOMPARE(h->desktop.prompts.first().secure, which == 1);
        const STTConfiguration after = h->storedConfiguration();
        const std::array<QString, 3> values = {after.baseURL, after.apiKey,
                                               after.updateManifestURL};
        const std::array<QString, 3> previous = {before.baseURL, before.apiKey,
                                                 before.updateManifestURL};
        QCOMPARE(values[which], stored ? answer->trimmed() : previous[which]);
    }

    void apiKeyFromClipboard_data()
    {
        QTest::addColumn<std::optional<QString>>("clipboard");
        QTest::addColumn<QString>("storedKey"); // empty: the key is left alone
        QTest::newRow("key with line break") << std::optional<QString>(" k-9\n") << "k-9";
        QTest::newRow("blank text") << std::optional<QString>(" \n ") << "";
        QTest::newRow("no text at all") << std::optional<QString>() << "";
    }
    void apiKeyFromClipboard()
    {
        QFETCH(std::optional<QString>, clipboard);
        QFETCH(QString, storedKey);
        TranscriptionViewModel *vm = h->build();
        const QString before = h->storedConfiguration().apiKey;
        h->desktop.clipboard = clipboard;
        vm->useAPIKeyFromClipboard();
        QCOMPARE(h->storedConfiguration().apiKey, storedKey.isEmpty() ? before : storedKey);
        if (storedKey.isEmpty())
            QCOMPARE(vm->statusText(), QStringLiteral("Leikepöydällä ei ole API-avainta"));
    }

    // The save dialog proposes the session's name; the chosen file holds the CSV rendering.
    void saveTranscriptWritesWhereTheUserChose_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("confirmed") << true;
        QTest::newRow("cancelled") << false;
    }
    void saveTranscriptWritesWhereTheUserChose()
    {
        QFETCH(bool, confirm);
        QVERIFY(!h->history->save(twoLineSession()));
        TranscriptionViewModel *vm = h->build();
        vm->settings()->setExportFormatName(QStringLiteral("csv"));
        vm->loadSession(QStringLiteral("memo-7"));
        QVERIFY(vm->canSave());
        QTemporaryDir target;
        const QString path = target.filePath(QStringLiteral("valittu.csv"));
        h->desktop.saveAnswers.enqueue(confirm ? std::optional<QString>(path) : std::nullopt);
        const QString statusBefore = vm->statusText();
        vm->saveTranscript();
        QVERIFY(h->waitFor([&] { return h->desktop.saveDialogs.size() == 1; }));
        h->advance(std::chrono::milliseconds(0));
        QCOMPARE(h->desktop.saveDialogs.first().suggestedFileName, QStringLiteral("memo-7.csv"));
        QCOMPARE(QFile::exists(path), confirm);
        if (!confirm) {
            QCOMPARE(vm->statusText(), statusBefore);
            return;
        }
        QCOMPARE(vm->statusText(), QStringLiteral("Tallennettu: valittu.csv"));
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(),
                 QByteArray("timestamp,speaker,text\n2026-03-01T12:00:07Z,\"S1\",\"Hyvää "
                            "huomenta\"\n2026-03-01T12:00:09Z,\"\",\"Sanoi \"\"kyllä\"\"\""));
    }

    void copyActionsFillTheClipboard()
    {
        QVERIFY(!h->history->save(twoLineSession()));
        TranscriptionViewModel *vm = h->build();
        vm->copyTranscriptToClipboard();
        QVERIFY(!h->desktop.clipboard); // nothing on screen yet
        vm->loadSession(QStringLiteral("memo-7"));
        vm->copyTranscriptToClipboard();
        QCOMPARE(h->desktop.clipboard.value_or(QString()), vm->transcriptText());
        QCOMPARE(vm->statusText(), QStringLiteral("Kopioitu leikepöydälle"));
    }

    void updateCheck_data()
    {
        QTest::addColumn<QByteArray>("manifest"); // empty: the address is blank
        QTest::addColumn<QString>("running");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("opens");
        QTest::newRow("newer with a download page")
            << QByteArray("{\"version\":\"2.0.0\",\"downloadURL\":\"https://example.invalid/d\"}")
            << "1.9.9"
            << "Päivitys saatavilla: 2.0.0 (avaa lataus)" << true;
        QTest::newRow("newer without a download page")
            << QByteArray(R"({"version":"1.10"})") << "1.9.9"
            << "Päivitys saatavilla: 1.10" << false;
        QTest::newRow("same version written shorter")
            << QByteArray("{\"version\":\"1.4\",\"downloadURL\":\"https://example.invalid/d\"}")
            << "1.4.0"
            << "Ei uusia päivityksiä (versio 1.4.0)" << false;
        QTest::newRow("blank address") << QByteArray() << "1.0.0"
                                       << "Päivitysfeed URL puuttuu" << false;
    }
    void updateCheck()
    {
        QFETCH(QByteArray, manifest);
        QFETCH(QString, running);
        QFETCH(QString, status);
        QFETCH(bool, opens);
        TranscriptionViewModel *vm = h->build();
        vm->setRunningVersionForUpdates(running);
        h->backend.on("GET", QStringLiteral("/latest-linux.json"),
                      ScriptedResponse::json(200, manifest));
        h->desktop.promptAnswers.enqueue(manifest.isEmpty() ? QStringLiteral("  ")
                                                            : h->backend.baseUrl().toString() +
                                                 QStringLiteral("/latest-linux.json"));
        vm->promptForUpdateManifestURL();
        QVERIFY(h->waitFor([&] { return h->desktop.prompts.size() == 1; }));
        h->advance(std::chrono::milliseconds(0));
        vm->checkForUpdates();
        QVERIFY(h->waitFor([&] { return vm->statusText() == status; }));
        QCOMPARE(h->desktop.openedUrls.size(), opens ? 1 : 0);
        QCOMPARE(h->requests("GET", QStringLiteral("/latest-linux.json")).size(),
                 manifest.isEmpty() ? 0 : 1);
    }
};

VERNALO_TEST_MAIN(ViewModelOutputsTest)
#include "test_view_model_outputs.moc"
