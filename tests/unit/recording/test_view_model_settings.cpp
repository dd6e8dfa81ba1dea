// The controller's settings: the stored configuration at start-up and after a save, mixing
// presets, the session token on the wire and the connection test.
#include "foundation/app_log.h"
#include "foundation/build_info.h"
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

QJsonObject parseStored(const QVariant &value)
{
    return QJsonDocument::fromJson(value.toString().toUtf8()).object();
}

SavedSession twoLineSession()
{
    return ControllerHarness::sessionOf("memo-7", {"Hyvää huomenta|S1", "Sanoi \"kyllä\""});
}

SavedSession memoSession()
{
    SavedSession session = ControllerHarness::sessionOf(
        "memo-7", {"Hyvää huomenta|S1", "Sanoi \"kyllä\"  ", "kolmas|"});
    session.segments[0].timestamp = session.segments[0].timestamp.addMSecs(250);
    session.segments[2].timestamp = session.createdAt.addSecs(3600);
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

class ViewModelSettingsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;

    TranscriptionViewModel *buildWithMemoSession()
    {
        if (!h->storeSession(memoSession()))
            return nullptr;
        TranscriptionViewModel *vm = h->build();
        vm->loadSession(QStringLiteral("memo-7"));
        return vm;
    }

    void storeRaw(const QByteArray &json)
    {
        QString blob = QString::fromUtf8(json);
        blob.replace(QStringLiteral("BASE"), h->backend.baseUrl().toString());
        h->settings->setValue(QLatin1String(STTConfigurationStore::kKey), blob);
    }

private Q_SLOTS:
    void init()
    {
        h = std::make_unique<ControllerHarness>();
        QVERIFY(h->start());
    }
    void cleanup() { h.reset(); }

    // Start-up mirrors the stored record into the screen, repairs what is missing and writes
    // the repaired record back at once.
    void startUpMirrorsAndRepairsTheStoredRecord_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("language");
        QTest::addColumn<double>("micGain");
        QTest::addColumn<QString>("preset");
        QTest::addColumn<uint>("device");
        QTest::newRow("empty object") << QByteArray("{}") << "fi-FI" << 1.0 << "custom" << 0u;
        QTest::newRow("out of range gain and a chosen device")
            << QByteArray(
                   R"({"baseURL":"BASE","defaultLanguage":"sv-SE","mixedMicGain":5,"preferredInputDeviceID":11})")
            << "sv-SE" << 2.0 << "custom" << 11u;
        QTest::newRow("values near the meeting preset")
            << QByteArray(
                   R"({"mixedMicGain":1.02,"mixedSystemGain":0.98,"mixedDuckingStrength":0.49})")
            << "fi-FI" << 1.02 << "meeting" << 0u;
        QTest::newRow("mistyped field falls back to defaults")
            << QByteArray(R"({"defaultLanguage":"en-US","mixedLimiterEnabled":"yes"})") << "fi-FI"
            << 1.0 << "custom" << 0u;
        QTest::newRow("device that is gone")
            << QByteArray(R"({"preferredInputDeviceID":99})") << "fi-FI" << 1.0 << "custom" << 0u;
    }
    void startUpMirrorsAndRepairsTheStoredRecord()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, language);
        QFETCH(double, micGain);
        QFETCH(QString, preset);
        QFETCH(uint, device);
        storeRaw(stored);
        TranscriptionViewModel *vm = h->build();
        QCOMPARE(vm->settings()->language(), language);
        QCOMPARE(vm->settings()->mixedMicGain(), micGain);
        QCOMPARE(vm->settings()->mixedPresetName(), preset);
        QCOMPARE(vm->sources()->selectedInputDeviceID(), device);
        QCOMPARE(vm->statusText(), QStringLiteral("Valmis aloittamaan"));

        const QJsonObject written = parseStored(h->storedConfigurationValue());
        QCOMPARE(written.value("apiKey").toString().isEmpty(), false);
        QCOMPARE(written.contains("preferredInputDeviceID"), device != 0);
        QVERIFY(!written.value("baseURL").toString().isEmpty());
        QCOMPARE(written.value("mixedMicGain").toDouble(), micGain);
        if (!stored.contains("apiKey"))
            QCOMPARE(written.value("apiKey").toString(), buildinfo::defaultSharedAPIKey());
    }

    void saveWritesWhatTheScreenShows()
    {
        storeRaw(
            R"({"baseURL":" BASE \n","apiKey":" k-1\t","preferredSystemApplicationBundleID":"gone"})");
        TranscriptionViewModel *vm = h->build();
        QSignalSpy configChanged(vm->settings(), &RecordingSettings::configChanged);
        vm->settings()->setLanguage(QStringLiteral("en-US"));
        vm->settings()->setSttModel(QStringLiteral("long"));
        vm->settings()->setMixedSystemGain(0.01);
        vm->settings()->setMixedDuckingStrength(0.95);
        vm->settings()->setAllowSystemFallback(false);
        vm->setPreferredSystemApplication(QString());
        vm->updateAuthContext(QVariantMap {{"email", "a@example.com"}},
                              QStringLiteral("secret-token"));
        vm->saveConfig(true);

        QCOMPARE(vm->statusText(), QStringLiteral("Asetukset tallennettu"));
        QVERIFY(configChanged.size() >= 1);
        const QJsonObject written = parseStored(h->storedConfigurationValue());
        QCOMPARE(written.value("baseURL").toString(), h->backend.baseUrl().toString());
        QCOMPARE(written.value("apiKey").toString(), QStringLiteral("k-1"));
        QCOMPARE(written.value("defaultLanguage").toString(), QStringLiteral("en-US"));
        QCOMPARE(written.value("defaultModel").toString(), QStringLiteral("long"));
        QCOMPARE(written.value("mixedSystemGain").toDouble(), 0.1);
        QCOMPARE(written.value("mixedDuckingStrength").toDouble(), 0.9);
        QCOMPARE(written.value("allowSystemFallback").toBool(true), false);
        QVERIFY(!written.contains("preferredSystemApplicationBundleID"));
        QVERIFY(!written.contains("preferredInputDeviceID"));
        QVERIFY(!h->storedConfigurationValue().toString().contains("secret-token"));
        QCOMPARE(vm->settings()->mixedSystemGain(), 0.1);
    }

    void presetsSetTheFiveValuesTogether_data()
    {
        QTest::addColumn<QString>("preset");
        QTest::addColumn<bool>("applies");
        QTest::addColumn<double>("micGain");
        QTest::addColumn<double>("systemGain");
        QTest::addColumn<bool>("autoDuck");
        QTest::newRow("interview") << "interview" << true << 1.15 << 0.72 << true;
        QTest::newRow("custom changes nothing") << "custom" << false << 1.3 << 0.5 << true;
        QTest::newRow("unknown name") << "podcast" << false << 1.3 << 0.5 << true;
    }
    void presetsSetTheFiveValuesTogether()
    {
        QFETCH(QString, preset);
        QFETCH(bool, applies);
        QFETCH(double, micGain);
        QFETCH(double, systemGain);
        QFETCH(bool, autoDuck);
        TranscriptionViewModel *vm = h->build();
        vm->settings()->setMixedMicGain(1.3);
        vm->settings()->setMixedSystemGain(0.5);
        vm->settings()->setMixedLimiterEnabled(false);
        vm->saveConfig(false);
        const QVariant before = h->storedConfigurationValue();
        vm->applyMixPreset(preset);

        QCOMPARE(vm->settings()->mixedMicGain(), micGain);
        QCOMPARE(vm->settings()->mixedSystemGain(), systemGain);
        QCOMPARE(vm->settings()->mixedAutoDuckEnabled(), autoDuck);
        QCOMPARE(vm->settings()->mixedLimiterEnabled(), applies);
        QCOMPARE(vm->settings()->mixedPresetName(), applies ? preset : QStringLiteral("custom"));
        if (!applies) {
            QCOMPARE(vm->statusText(), QStringLiteral("Valmis aloittamaan"));
            QCOMPARE(h->storedConfigurationValue(), before);
            return;
        }
        QVERIFY(vm->statusText().startsWith(QStringLiteral("Miksausprofiili: ")));
        const QJsonObject written = parseStored(h->storedConfigurationValue());
        QCOMPARE(written.value("mixedMicGain").toDouble(), micGain);
        QCOMPARE(written.value("mixedLimiterEnabled").toBool(), true);
    }

    void sessionTokenGoesWithBackendRequests_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("trimmed") << "  tok-123 \n" << QByteArray("tok-123");
        QTest::newRow("blank means none") << "  \t" << QByteArray();
    }
    void sessionTokenGoesWithBackendRequests()
    {
        QFETCH(QString, token);
        QFETCH(QByteArray, header);
        TranscriptionViewModel *vm = h->build();
        vm->updateAuthContext(QVariantMap {{"email", "a@example.com"}}, QStringLiteral("old"));
        vm->updateAuthContext(QVariantMap {{"email", "a@example.com"}}, token);
        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        const RecordedRequest create = h->requests("POST", "/v1/sessions").first();
        QCOMPARE(create.hasHeader("x-auth-token"), !header.isEmpty());
        QCOMPARE(create.header("x-auth-token"), header);
        QVERIFY(h->stopAndFinish());
        const RecordedRequest stop = h->requests("POST", "/v1/sessions/rec-1/stop").first();
        QCOMPARE(stop.header("x-auth-token"), header);
        // The token is a secret: it never reaches the log.
        AppLog::flush();
        QVERIFY(!AppLog::snapshot(1 << 22).contains(QStringLiteral("tok-123")));
    }

    void connectionTestShowsTheBackendAndMemoState_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("statusText");
        QTest::addColumn<QString>("memo");
        QTest::newRow("healthy with memo model")
            << 200
            << QByteArray(
                   R"({"ok":true,"time":"2026-03-01T10:20:30.123Z","memoAI":{"configured":true,"model":" m-2 "}})")
            << "Yhteys ok (2026-03-01T10:20:30)"
            << "Käytössä (m-2)";
        QTest::newRow("not ok, memo off")
            << 200 << QByteArray(R"({"ok":false,"time":"x","openAIConfigured":false})")
            << "Yhteystesti epäonnistui"
            << "Ei konfiguroitu";
        QTest::newRow("server error")
            << 503 << QByteArray(R"({"error":"huolto"})") << "Yhteysvirhe: huolto"
            << "Tuntematon (yhteysvirhe)";
    }
    void connectionTestShowsTheBackendAndMemoState()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, statusText);
        QFETCH(QString, memo);
        h->backend.on("GET", "/health", ScriptedResponse::json(status, body));
        TranscriptionViewModel *vm = h->build();
        QCOMPARE(vm->support()->memoAIBackendStatus(),
                 QStringLiteral("Ei tiedossa (testaa yhteys)"));
        vm->testBackendConnection();
        QCOMPARE(vm->statusText(), QStringLiteral("Testataan yhteyttä..."));
        QVERIFY(h->waitFor([&] { return vm->statusText() != u"Testataan yhteyttä..."; }));
        QCOMPARE(vm->statusText(), statusText);
        QCOMPARE(vm->support()->memoAIBackendStatus(), memo);
        QVERIFY(!h->requests("GET", "/health").first().hasHeader("x-api-key"));
    }

    // Screens bind by property name: every published field must be readable by name and tell
    // when it changes, or a binding would show a stale value.
    void everyPublishedFieldCanBeBound()
    {
        TranscriptionViewModel *vm = h->build();
        // The controller's own fields and those of its topic objects.
        int published = 0;
        const QList<QObject *> topics {
            vm, vm->settings(), vm->sources(), vm->permissions(), vm->history(), vm->support()};
        for (QObject *object : topics) {
            const QMetaObject *meta = object->metaObject();
            published += meta->propertyCount() - meta->propertyOffset();
            for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
                const QMetaProperty property = meta->property(i);
                QVERIFY2(property.hasNotifySignal() || property.isConstant(), property.name());
                QVERIFY2(property.read(object).isValid(), property.name());
            }
        }
        QVERIFY(published >= 60);
        QCOMPARE(vm->property("segments").value<QObject *>(), vm->segmentModel());
        // Settings written through the property system reach the controller.
        QVERIFY(vm->settings()->setProperty("exportFormat", QStringLiteral("csv")));
        QCOMPARE(vm->settings()->exportFormat(), TranscriptExportFormat::Csv);
    }

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
        QVERIFY(h->storeSession(twoLineSession()));
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
        vm->copyTranscriptToClipboard();
        QCOMPARE(h->desktop.clipboard.value_or(QString()), vm->transcriptText());
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(),
                 QByteArray("timestamp,speaker,text\n2026-03-01T12:00:07Z,\"S1\",\"Hyvää "
                            "huomenta\"\n2026-03-01T12:00:09Z,\"\",\"Sanoi \"\"kyllä\"\"\""));
    }

    void memo_data()
    {
        QTest::addColumn<int>("generateStatus");
        QTest::addColumn<QByteArray>("generateBody");
        QTest::addColumn<int>("documentStatus");
        QTest::addColumn<QString>("destination"); // "" cancels the dialog
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("downloaded");
        QTest::addColumn<bool>("written");
        QTest::newRow("saved over an older file")
            << 200 << kSummary << 200 << "vanha.docx"
            << "Muistio tallennettu: vanha.docx" << true << true;
        QTest::newRow("dialog cancelled") << 200 << kSummary << 200 << ""
                                          << "Muistio valmis" << true << false;
        QTest::newRow("generation refused with the server's text")
            << 503 << QByteArray(R"({"error":"Muistiopalvelu ei ole käytettävissä"})") << 200
            << "muistio.docx"
            << "Muistion luonti epäonnistui: Muistiopalvelu ei ole käytettävissä" << false << false;
        QTest::newRow("download fails")
            << 200 << kSummary << 500 << "muistio.docx"
            << "Muistion luonti epäonnistui: Palvelinvirhe (500)" << true << false;
        QTest::newRow("write fails") << 200 << kSummary << 200 << "ei-ole/muistio.docx"
                                     << "Muistion tallennus epäonnistui" << true << false;
    }
    void memo()
    {
        QFETCH(int, generateStatus);
        QFETCH(QByteArray, generateBody);
        QFETCH(int, documentStatus);
        QFETCH(QString, destination);
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
        QTemporaryDir chosen;
        const QString target = destination.isEmpty() ? QString() : chosen.filePath(destination);
        // An older file where the new one goes: replaced, or left whole when nothing is written.
        const QByteArray older("older memo");
        QFile existing(target);
        if (!target.isEmpty() && existing.open(QIODevice::WriteOnly))
            existing.write(older);
        existing.close();
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
        if (existing.open(QIODevice::ReadOnly))
            QCOMPARE(existing.readAll(), written ? document : older);
        else
            QVERIFY(!written);
    }
};

VERNALO_TEST_MAIN(ViewModelSettingsTest)
#include "test_view_model_settings.moc"
