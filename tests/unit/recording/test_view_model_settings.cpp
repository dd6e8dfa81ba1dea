// The controller's settings: the stored configuration after a save, the memo, and the capture
// sources: the microphone's stable device rule, displays and applications for system audio and
// the sources a recording opens in each mode.
#include "audio/pcm_mixer.h"
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

constexpr quint32 kHeadsetId = 21;
constexpr quint32 kBuiltInId = 22;

QJsonObject parseStored(const QVariant &value)
{
    return QJsonDocument::fromJson(value.toString().toUtf8()).object();
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

    QJsonObject stored() const { return parseStored(h->storedConfigurationValue()); }

    TranscriptionViewModel *buildWithMemoSession()
    {
        if (!h->storeSession(memoSession()))
            return nullptr;
        TranscriptionViewModel *vm = h->build();
        vm->loadSession(QStringLiteral("memo-7"));
        return vm;
    }

private Q_SLOTS:
    void init()
    {
        h = std::make_unique<ControllerHarness>();
        QVERIFY(h->start());
    }
    void cleanup() { h.reset(); }

    // A save writes what the screen shows, trimmed, without the session token or the choices
    // made automatic.
    void saveWritesWhatTheScreenShows()
    {
        h->settings->setValue(
            QLatin1String(STTConfigurationStore::kKey),
            R"({"baseURL":" )" + h->backend.baseUrl().toString() +
                R"( \n","apiKey":" k-1\t","preferredSystemApplicationBundleID":"gone"})");
        TranscriptionViewModel *vm = h->build();
        vm->settings()->setLanguage(QStringLiteral("en-US"));
        vm->settings()->setSttModel(QStringLiteral("long"));
        vm->settings()->setAllowSystemFallback(false);
        vm->setPreferredSystemApplication(QString());
        vm->updateAuthContext(QVariantMap {{"email", "a@example.com"}},
                              QStringLiteral("secret-token"));
        vm->saveConfig(true);

        const QJsonObject written = stored();
        QCOMPARE(written.value("baseURL").toString(), h->backend.baseUrl().toString());
        QCOMPARE(written.value("apiKey").toString(), QStringLiteral("k-1"));
        QCOMPARE(written.value("defaultLanguage").toString(), QStringLiteral("en-US"));
        QCOMPARE(written.value("defaultModel").toString(), QStringLiteral("long"));
        QCOMPARE(written.value("allowSystemFallback").toBool(true), false);
        QVERIFY(!written.contains("preferredSystemApplicationBundleID"));
        QVERIFY(!written.contains("preferredInputDeviceID"));
        QVERIFY(!h->storedConfigurationValue().toString().contains("secret-token"));
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
        // Settings written through the property system reach the controller.
        QVERIFY(vm->settings()->setProperty("exportFormat", QStringLiteral("csv")));
        QCOMPARE(vm->settings()->exportFormat(), TranscriptExportFormat::Csv);
    }

    // The memo request carries the transcript, the document arrives byte for byte and replaces
    // an older file where the user put it; a refusal or a cancelled dialog writes nothing.
    void memo_data()
    {
        QTest::addColumn<bool>("generated");
        QTest::addColumn<QString>("destination"); // "" cancels the dialog
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("written");
        QTest::newRow("saved over an older file") << true << "vanha.docx"
                                                  << "Muistio tallennettu: vanha.docx" << true;
        QTest::newRow("dialog cancelled") << true << ""
                                          << "Muistio valmis" << false;
        QTest::newRow("generation refused with the server's text")
            << false << "muistio.docx"
            << "Muistion luonti epäonnistui: Muistiopalvelu ei ole käytettävissä" << false;
        QTest::newRow("write fails") << true << "ei-ole/muistio.docx"
                                     << "Muistion tallennus epäonnistui" << false;
    }
    void memo()
    {
        QFETCH(bool, generated);
        QFETCH(QString, destination);
        QFETCH(QString, status);
        QFETCH(bool, written);
        const QByteArray document = documentBytes();
        h->backend.on("POST", "/v1/sessions/memo-7/summary",
                      generated ? ScriptedResponse::json(200, kSummary)
                                : ScriptedResponse::json(
                                      503, R"({"error":"Muistiopalvelu ei ole käytettävissä"})"));
        h->backend.on("GET", "/v1/sessions/memo-7/summary/docx",
                      ScriptedResponse::withType(200, document,
                                                 "application/vnd.openxmlformats-"
                                                 "officedocument.wordprocessingml.document"));
        TranscriptionViewModel *vm = buildWithMemoSession();
        QVERIFY(vm);
        QTemporaryDir chosen;
        const QString target = destination.isEmpty() ? QString() : chosen.filePath(destination);
        QFile existing(target);
        if (!target.isEmpty() && existing.open(QIODevice::WriteOnly))
            existing.write("older memo");
        existing.close();
        h->desktop.saveAnswers.enqueue(target.isEmpty() ? std::nullopt
                                                        : std::optional<QString>(target));
        vm->generateSummaryDocx();
        QVERIFY(h->waitFor([&] { return !vm->support()->isGeneratingSummary(); }));
        QCOMPARE(vm->statusText(), status);

        const QList<RecordedRequest> sent = h->requests("POST", "/v1/sessions/memo-7/summary");
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().json().object().value("transcriptSegments").toArray(),
                 expectedSegments());
        // The dialog only opens with a document in hand, proposing the session's name.
        QCOMPARE(h->desktop.saveDialogs.size(), generated ? 1 : 0);
        if (generated)
            QCOMPARE(h->desktop.saveDialogs.first().suggestedFileName,
                     QStringLiteral("memo-7-muistio.docx"));
        if (existing.open(QIODevice::ReadOnly))
            QCOMPARE(existing.readAll(), written ? document : QByteArray("older memo"));
        else
            QVERIFY(!written);
    }
    // A wireless headset chosen in the settings is replaced by a stable microphone whenever
    // one exists; other choices stay as chosen.
    void chosenMicrophoneFollowsTheStableDeviceRule_data()
    {
        QTest::addColumn<uint>("chosen");
        QTest::addColumn<bool>("builtInPresent");
        QTest::addColumn<uint>("selected");
        QTest::addColumn<uint>("opened");
        QTest::newRow("headset with a built-in microphone")
            << uint(kHeadsetId) << true << uint(kBuiltInId) << uint(kBuiltInId);
        QTest::newRow("headset with only a USB microphone")
            << uint(kHeadsetId) << false << uint(ControllerHarness::kMicrophoneId)
            << uint(ControllerHarness::kMicrophoneId);
        // No choice: the capture ranks the devices itself and prefers the built-in one.
        QTest::newRow("automatic") << 0u << true << 0u << uint(kBuiltInId);
    }
    void chosenMicrophoneFollowsTheStableDeviceRule()
    {
        QFETCH(uint, chosen);
        QFETCH(bool, builtInPresent);
        QFETCH(uint, selected);
        QFETCH(uint, opened);
        h->audio.addSource(kHeadsetId, QStringLiteral("Travel Buds"), QStringLiteral("bluetooth"),
                           QStringLiteral("headset"));
        if (builtInPresent)
            h->audio.addSource(kBuiltInId, QStringLiteral("Front Mic"), QStringLiteral("pci"));
        TranscriptionViewModel *vm = h->build();
        QCOMPARE(vm->sources()->availableInputDevices().size(), builtInPresent ? 3 : 2);

        vm->setPreferredInputDevice(chosen);
        QCOMPARE(vm->sources()->selectedInputDeviceID(), selected);
        const QJsonObject written = stored();
        QCOMPARE(written.contains("preferredInputDeviceID"), selected != 0);
        QCOMPARE(uint(written.value("preferredInputDeviceID").toInteger()), selected);

        // The next recording opens the selected device.
        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        QCOMPARE(uint(h->microphoneStream()->target().sourceId), opened);
    }

    // The chosen display and application are stored and used. An unreachable sound server tells
    // nothing about them: they stay. Choices that are gone fall back to automatic, stored so.
    void storedSourceChoicesStayValid()
    {
        h->audio.displays = {{1, 1920, 1080}, {2, 2560, 1440}};
        h->audio.playbacks = {{QStringLiteral("firefox"), QStringLiteral("Firefox"), 4242},
                              {QStringLiteral("meet"), QStringLiteral("Meet"), 4343}};
        TranscriptionViewModel *vm = h->build();
        vm->refreshSystemAudioDisplays();
        vm->refreshSystemAudioApplications();
        vm->setPreferredSystemDisplay(2);
        vm->setPreferredSystemApplication(QStringLiteral(" meet "));
        QCOMPARE(stored().value("preferredSystemApplicationBundleID").toString(),
                 QStringLiteral("meet"));
        // A system-audio recording captures that application alone, unchanged on the wire.
        vm->settings()->setInputModeName(QStringLiteral("systemAudio"));
        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        QCOMPARE(h->audio.openRequests.size(), 1);
        QCOMPARE(h->systemStream()->target().applicationId, QStringLiteral("meet"));
        const QByteArray played = ControllerHarness::testChunk(8);
        h->playSystemAudio(played);
        QVERIFY(h->waitAudioChunks(1));
        QCOMPARE(h->audioReceived(), QList<QByteArray> {played});
        QVERIFY(h->stopAndFinish());

        vm->setPreferredInputDevice(ControllerHarness::kMicrophoneId);
        h->audio.reachable = false;
        vm->refreshInputDevices();
        vm->refreshSystemAudioApplications();
        QVERIFY(vm->sources()->availableSystemApplications().isEmpty());
        QCOMPARE(vm->sources()->selectedSystemApplicationBundleID(), QStringLiteral("meet"));
        QCOMPARE(stored().value("preferredInputDeviceID").toInteger(),
                 qint64(ControllerHarness::kMicrophoneId));

        h->audio.reachable = true;
        h->audio.displays = {{1, 1920, 1080}};
        h->audio.playbacks.removeLast();
        vm->refreshSystemAudioDisplays();
        vm->refreshSystemAudioApplications();
        QCOMPARE(vm->sources()->selectedSystemDisplayID(), 0u);
        QCOMPARE(vm->sources()->selectedSystemApplicationBundleID(), QString());
        QVERIFY(!stored().contains("preferredSystemDisplayID"));
        QVERIFY(!stored().contains("preferredSystemApplicationBundleID"));
    }

    // Both sources: the microphone opens first, and each pair of chunks goes out as one mix
    // made with the gains on the screen at that moment.
    void mixedRecordingSendsOneMixPerPair()
    {
        TranscriptionViewModel *vm = h->build();
        vm->settings()->setInputModeName(QStringLiteral("microphoneAndSystem"));
        vm->settings()->setMixedMicGain(0.5);
        vm->settings()->setMixedLimiterEnabled(false);
        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        QCOMPARE(h->audio.openRequests.size(), 2);
        QCOMPARE(h->audio.openRequests.first().kind, CaptureTarget::Kind::Source);

        const QByteArray mic = ControllerHarness::testChunk(1);
        const QByteArray system = ControllerHarness::testChunk(2);
        h->speak(mic);
        h->playSystemAudio(system);
        // Changed during the recording: the next pair hears it.
        vm->settings()->setMixedMicGain(1.5);
        h->speak(mic);
        h->playSystemAudio(system);
        QVERIFY(h->waitAudioChunks(2));

        MixSettings first = {0.5, 1.0, true, 0.55, false};
        MixSettings second = first;
        second.micGain = 1.5;
        QCOMPARE(h->audioReceived(),
                 (QList<QByteArray> {mixPCM16(mic, system, first), mixPCM16(mic, system, second)}));
    }
};

VERNALO_TEST_MAIN(ViewModelSettingsTest)
#include "test_view_model_settings.moc"
