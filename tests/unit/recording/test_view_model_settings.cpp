// The controller's settings: the stored configuration at start-up and after a save, mixing
// presets, the session token on the wire and the connection test.
#include "foundation/app_log.h"
#include "foundation/build_info.h"
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

QJsonObject parseStored(const QVariant &value)
{
    return QJsonDocument::fromJson(value.toString().toUtf8()).object();
}

} // namespace

class ViewModelSettingsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;

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
        QTest::newRow("webinar") << "webinar" << true << 0.85 << 1.2 << false;
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

    // Editing one value by hand turns a preset into "custom" right away.
    void handEditedValuesAreCustom()
    {
        TranscriptionViewModel *vm = h->build();
        vm->applyMixPreset(QStringLiteral("meeting"));
        QCOMPARE(vm->settings()->mixedPresetName(), QStringLiteral("meeting"));
        vm->settings()->setMixedDuckingStrength(0.49);
        QCOMPARE(vm->settings()->mixedPresetName(), QStringLiteral("meeting"));
        vm->settings()->setMixedDuckingStrength(0.6);
        QCOMPARE(vm->settings()->mixedPresetName(), QStringLiteral("custom"));
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
        auto *segments =
            qobject_cast<TranscriptSegmentModel *>(vm->property("segments").value<QObject *>());
        QCOMPARE(segments, vm->segmentModel());
        const QVariantList devices = vm->sources()->property("availableInputDevices").toList();
        QCOMPARE(devices.size(), 1);
        QCOMPARE(devices.first().toMap().value("name").toString(), QStringLiteral("Desk Mic"));
        QCOMPARE(vm->property("statusText").toString(), QStringLiteral("Valmis aloittamaan"));
        QCOMPARE(vm->permissions()->property("microphonePermissionSummary").toString(),
                 QStringLiteral("Mikrofonioikeus: sallittu"));
        // Settings written through the property system reach the controller.
        QVERIFY(vm->settings()->setProperty("exportFormat", QStringLiteral("csv")));
        QCOMPARE(vm->settings()->exportFormat(), TranscriptExportFormat::Csv);
    }

    // The input mode is fixed for a running recording; the screen can change it between them.
    void inputModeIsFixedWhileRecording()
    {
        TranscriptionViewModel *vm = h->build();
        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        vm->settings()->setInputModeName(QStringLiteral("systemAudio"));
        QCOMPARE(vm->settings()->inputModeName(), QStringLiteral("microphone"));
        QVERIFY(h->stopAndFinish());
        vm->settings()->setInputModeName(QStringLiteral("systemAudio"));
        QCOMPARE(vm->settings()->inputModeName(), QStringLiteral("systemAudio"));
        vm->settings()->setInputModeName(QStringLiteral("mic"));
        QCOMPARE(vm->settings()->inputModeName(), QStringLiteral("systemAudio"));
    }
};

VERNALO_TEST_MAIN(ViewModelSettingsTest)
#include "test_view_model_settings.moc"
