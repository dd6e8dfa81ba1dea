// Capture sources and permissions through the controller: the microphone list and its stable
// device rule, displays and applications for system audio, the sources a recording opens in
// each mode, and the permission actions of the settings screen.
#include "audio/pcm_mixer.h"
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

constexpr quint32 kHeadsetId = 21;
constexpr quint32 kBuiltInId = 22;

QJsonObject storedConfig(ControllerHarness &h)
{
    return QJsonDocument::fromJson(h.storedConfigurationValue().toString().toUtf8()).object();
}

} // namespace

class ViewModelSourcesTest : public QObject
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
        QTest::newRow("USB microphone stays")
            << uint(ControllerHarness::kMicrophoneId) << true
            << uint(ControllerHarness::kMicrophoneId) << uint(ControllerHarness::kMicrophoneId);
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
        QCOMPARE(vm->sources()->recommendedInputDeviceName(),
                 builtInPresent ? QStringLiteral("Front Mic") : QStringLiteral("Desk Mic"));

        vm->setPreferredInputDevice(chosen);
        QCOMPARE(vm->sources()->selectedInputDeviceID(), selected);
        QCOMPARE(vm->statusText(), QStringLiteral("Mikrofoni päivitetty"));
        const QJsonObject written = storedConfig(*h);
        QCOMPARE(written.contains("preferredInputDeviceID"), selected != 0);
        QCOMPARE(uint(written.value("preferredInputDeviceID").toInteger()), selected);

        // The next recording opens the selected device.
        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        QCOMPARE(uint(h->microphoneStream()->target().sourceId), opened);
    }

    // An unreachable sound server tells nothing about a stored choice; a device that is gone
    // falls back to automatic.
    void vanishedMicrophoneFallsBackToAutomatic()
    {
        h->audio.addSource(kBuiltInId, QStringLiteral("Front Mic"), QStringLiteral("pci"));
        TranscriptionViewModel *vm = h->build();
        vm->setPreferredInputDevice(kBuiltInId);
        h->audio.reachable = false;
        vm->refreshInputDevices();
        QCOMPARE(vm->sources()->selectedInputDeviceID(), kBuiltInId);
        QCOMPARE(storedConfig(*h).value("preferredInputDeviceID").toInteger(), qint64(kBuiltInId));
        h->audio.reachable = true;
        h->audio.sources.removeLast();
        vm->refreshInputDevices();
        QCOMPARE(vm->sources()->availableInputDevices().size(), 1);
        QCOMPARE(vm->sources()->selectedInputDeviceID(), 0u);
        QVERIFY(!storedConfig(*h).contains("preferredInputDeviceID"));
    }

    void systemSourceSelectionsStayValid()
    {
        h->audio.displays = {{1, 1920, 1080}, {2, 2560, 1440}};
        h->audio.playbacks = {{QStringLiteral("firefox"), QStringLiteral("Firefox"), 4242},
                              {QStringLiteral("meet"), QStringLiteral("Meet"), 4343}};
        TranscriptionViewModel *vm = h->build();
        vm->refreshSystemAudioDisplays();
        vm->refreshSystemAudioApplications();
        QCOMPARE(vm->sources()->availableSystemDisplays().size(), 2);
        QCOMPARE(vm->sources()->availableSystemDisplayList().at(1).toMap().value("name").toString(),
                 QStringLiteral("Näyttö 2 (2560x1440)"));
        QCOMPARE(vm->sources()->availableSystemApplications().size(), 2);

        vm->setPreferredSystemDisplay(2);
        QCOMPARE(vm->statusText(), QStringLiteral("Systeemiäänen lähde päivitetty"));
        vm->setPreferredSystemApplication(QStringLiteral(" meet "));
        QCOMPARE(vm->statusText(), QStringLiteral("Systeemiäänen sovellussuodatin päivitetty"));
        QCOMPARE(storedConfig(*h).value("preferredSystemApplicationBundleID").toString(),
                 QStringLiteral("meet"));

        // An unreachable sound server tells nothing about the stored choice: it stays.
        h->audio.reachable = false;
        vm->refreshSystemAudioApplications();
        QVERIFY(vm->sources()->availableSystemApplications().isEmpty());
        QCOMPARE(vm->sources()->selectedSystemApplicationBundleID(), QStringLiteral("meet"));

        // Choices that are gone fall back to automatic, and that is stored.
        h->audio.reachable = true;
        h->audio.displays = {{1, 1920, 1080}};
        h->audio.playbacks.removeLast();
        vm->refreshSystemAudioDisplays();
        vm->refreshSystemAudioApplications();
        QCOMPARE(vm->sources()->selectedSystemDisplayID(), 0u);
        QCOMPARE(vm->sources()->selectedSystemApplicationBundleID(), QString());
        QVERIFY(!storedConfig(*h).contains("preferredSystemDisplayID"));
        QVERIFY(!storedConfig(*h).contains("preferredSystemApplicationBundleID"));
    }

    // System audio of one chosen application reaches the wire unchanged.
    void systemAudioRecordingCapturesTheChosenApplication()
    {
        h->audio.playbacks = {{QStringLiteral("meet"), QStringLiteral("Meet"), 4343}};
        TranscriptionViewModel *vm = h->build();
        vm->setPreferredSystemApplication(QStringLiteral("meet"));
        vm->settings()->setInputModeName(QStringLiteral("systemAudio"));
        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        QCOMPARE(vm->statusText(), QStringLiteral("Kuuntelen... (Näyttö 1 • Meet)"));
        QVERIFY(!h->microphoneStream());
        QCOMPARE(h->systemStream()->target().kind, CaptureTarget::Kind::Application);
        QCOMPARE(h->systemStream()->target().applicationId, QStringLiteral("meet"));
        QCOMPARE(h->audio.openRequests.size(), 1);

        const QByteArray played = ControllerHarness::testChunk(8);
        h->playSystemAudio(played);
        QVERIFY(h->waitAudioChunks(1));
        QCOMPARE(h->audioReceived(), QList<QByteArray> {played});
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
        QCOMPARE(vm->statusText(),
                 QStringLiteral("Kuuntelen... (Desk Mic + Näyttö 1 • Kaikki sovellukset)"));

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

    // The snapshots at start-up, and what a request from the settings screen shows; a sound
    // server that comes back is noticed on the next refresh.
    void permissions_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<QStringList>("texts"); // microphone, system audio: snapshot, request
        QTest::newRow("sound server running")
            << true
            << QStringList {"Mikrofonioikeus: sallittu", "Systeemiäänen oikeus: sallittu",
                            "Mikrofonioikeus käytössä", "Systeemiäänioikeus käytössä"};
        QTest::newRow("sound server down")
            << false
            << QStringList {"Mikrofonioikeus: estetty (avaa ääniasetukset)",
                            "Systeemiäänen oikeus: ei vielä sallittu (pyydä lupa)",
                            "Mikrofonioikeus estetty. Avaa ääniasetukset.",
                            "Systeemiäänioikeus puuttuu. Avaa ääniasetukset."};
    }
    void permissions()
    {
        QFETCH(bool, reachable);
        QFETCH(QStringList, texts);
        h->audio.reachable = reachable;
        TranscriptionViewModel *vm = h->build();
        RecordingPermissions *permissions = vm->permissions();
        QCOMPARE(permissions->microphonePermissionSummary(), texts[0]);
        QCOMPARE(permissions->systemAudioPermissionSummary(), texts[1]);
        QCOMPARE(permissions->isMicrophonePermissionGranted(), reachable);
        QCOMPARE(permissions->isSystemAudioPermissionGranted(), reachable);
        QCOMPARE(permissions->shouldOpenSystemAudioSystemSettings(), !reachable);

        permissions->requestMicrophonePermissionFromUI();
        QVERIFY(h->waitFor([&] { return !permissions->isRequestingMicrophonePermission(); }));
        QCOMPARE(vm->statusText(), texts[2]);
        permissions->requestSystemAudioPermissionFromUI();
        permissions->requestSystemAudioPermissionFromUI(); // ignored while the first runs
        // Retries for a server that is still starting wait in virtual time.
        for (int i = 0; i < 3 && permissions->isRequestingSystemAudioPermission(); ++i)
            h->advance(350ms);
        QVERIFY(!permissions->isRequestingSystemAudioPermission());
        QCOMPARE(vm->statusText(), texts[3]);
        QCOMPARE(permissions->showSystemAudioPermissionHelp(), !reachable);

        h->audio.reachable = true;
        permissions->refreshMicrophonePermissionStatus(true);
        permissions->refreshSystemAudioPermissionStatus(false, true);
        QCOMPARE(vm->statusText(), QStringLiteral("Mikrofonioikeus: sallittu"));
        QVERIFY(permissions->isSystemAudioPermissionGranted());
    }

    void relaunchFailureIsShown()
    {
        TranscriptionViewModel *vm = h->build();
        h->desktop.relaunchError = QStringLiteral("ei löydy");
        vm->permissions()->relaunchApplication();
        QCOMPARE(h->desktop.relaunchCount, 1);
        QCOMPARE(vm->statusText(), QStringLiteral("Uudelleenkäynnistys epäonnistui: ei löydy"));
    }
};

VERNALO_TEST_MAIN(ViewModelSourcesTest)
#include "test_view_model_sources.moc"
