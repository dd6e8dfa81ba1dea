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

    void vanishedMicrophoneFallsBackToAutomatic()
    {
        h->audio.addSource(kBuiltInId, QStringLiteral("Front Mic"), QStringLiteral("pci"));
        TranscriptionViewModel *vm = h->build();
        vm->setPreferredInputDevice(kBuiltInId);
        QCOMPARE(vm->sources()->selectedInputDeviceID(), kBuiltInId);
        h->audio.sources.removeLast();
        vm->refreshInputDevices();
        QCOMPARE(vm->sources()->availableInputDevices().size(), 1);
        QCOMPARE(vm->sources()->selectedInputDeviceID(), 0u);
        QVERIFY(!storedConfig(*h).contains("preferredInputDeviceID"));
    }

    void unreachableServerKeepsTheStoredMicrophone()
    {
        h->audio.addSource(kBuiltInId, QStringLiteral("Front Mic"), QStringLiteral("pci"));
        TranscriptionViewModel *vm = h->build();
        vm->setPreferredInputDevice(kBuiltInId);
        h->audio.reachable = false;
        vm->refreshInputDevices();
        QCOMPARE(vm->sources()->selectedInputDeviceID(), kBuiltInId);
        QCOMPARE(storedConfig(*h).value("preferredInputDeviceID").toInteger(), qint64(kBuiltInId));
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

    void permissionSnapshotsAtStartUp_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<QString>("microphone");
        QTest::addColumn<QString>("systemAudio");
        QTest::newRow("sound server running") << true << "Mikrofonioikeus: sallittu"
                                              << "Systeemiäänen oikeus: sallittu";
        QTest::newRow("sound server down")
            << false << "Mikrofonioikeus: estetty (avaa ääniasetukset)"
            << "Systeemiäänen oikeus: ei vielä sallittu (pyydä lupa)";
    }
    void permissionSnapshotsAtStartUp()
    {
        QFETCH(bool, reachable);
        QFETCH(QString, microphone);
        QFETCH(QString, systemAudio);
        h->audio.reachable = reachable;
        TranscriptionViewModel *vm = h->build();
        QCOMPARE(vm->permissions()->microphonePermissionSummary(), microphone);
        QCOMPARE(vm->permissions()->isMicrophonePermissionGranted(), reachable);
        QCOMPARE(vm->permissions()->systemAudioPermissionSummary(), systemAudio);
        QCOMPARE(vm->permissions()->isSystemAudioPermissionGranted(), reachable);
        QCOMPARE(vm->permissions()->shouldOpenSystemAudioSystemSettings(), !reachable);

        // Coming back is noticed on the next refresh.
        h->audio.reachable = true;
        vm->permissions()->refreshMicrophonePermissionStatus(true);
        vm->permissions()->refreshSystemAudioPermissionStatus(false, true);
        QCOMPARE(vm->statusText(), QStringLiteral("Mikrofonioikeus: sallittu"));
        QVERIFY(vm->permissions()->isSystemAudioPermissionGranted());
    }

    void permissionRequests_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<QString>("microphoneStatus");
        QTest::addColumn<QString>("systemStatus");
        QTest::newRow("granted") << true << "Mikrofonioikeus käytössä"
                                 << "Systeemiäänioikeus käytössä";
        QTest::newRow("sound server down")
            << false << "Mikrofonioikeus estetty. Avaa ääniasetukset."
            << "Systeemiäänioikeus puuttuu. Avaa ääniasetukset.";
    }
    void permissionRequests()
    {
        QFETCH(bool, reachable);
        QFETCH(QString, microphoneStatus);
        QFETCH(QString, systemStatus);
        h->audio.reachable = reachable;
        TranscriptionViewModel *vm = h->build();
        vm->permissions()->requestMicrophonePermissionFromUI();
        QVERIFY(h->waitFor([&] { return !vm->permissions()->isRequestingMicrophonePermission(); }));
        QCOMPARE(vm->statusText(), microphoneStatus);

        vm->permissions()->requestSystemAudioPermissionFromUI();
        // A second press while the first request runs is ignored.
        vm->permissions()->requestSystemAudioPermissionFromUI();
        // Retries for a server that is still starting wait in virtual time.
        for (int i = 0; i < 3 && vm->permissions()->isRequestingSystemAudioPermission(); ++i)
            h->advance(350ms);
        QVERIFY(!vm->permissions()->isRequestingSystemAudioPermission());
        QCOMPARE(vm->statusText(), systemStatus);
        QCOMPARE(vm->permissions()->showSystemAudioPermissionHelp(), !reachable);
        QCOMPARE(vm->permissions()->isSystemAudioPermissionGranted(), reachable);
    }

    void relaunchFailureIsShown_data()
    {
        QTest::addColumn<QString>("error"); // empty: the new instance started
        QTest::addColumn<QString>("status");
        QTest::newRow("started") << QString() << QString();
        QTest::newRow("failed") << QStringLiteral("ei löydy")
                                << QStringLiteral("Uudelleenkäynnistys epäonnistui: ei löydy");
    }
    void relaunchFailureIsShown()
    {
        QFETCH(QString, error);
        QFETCH(QString, status);
        TranscriptionViewModel *vm = h->build();
        const QString before = vm->statusText();
        if (!error.isEmpty())
            h->desktop.relaunchError = error;
        vm->permissions()->relaunchApplication();
        QCOMPARE(h->desktop.relaunchCount, 1);
        QCOMPARE(vm->statusText(), status.isEmpty() ? before : status);
    }
};

VERNALO_TEST_MAIN(ViewModelSourcesTest)
#include "test_view_model_sources.moc"
