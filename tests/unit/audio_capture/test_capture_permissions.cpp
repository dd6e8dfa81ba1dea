#include "audio/capture_permissions.h"
#include "support/fake_desktop_services.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo;

Q_DECLARE_METATYPE(CaptureAuthorization)

class CapturePermissionsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void microphoneSnapshot_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<CaptureAuthorization>("capture");
        QTest::addColumn<bool>("usageDescription");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<bool>("canRequest");
        QTest::addColumn<bool>("openSettings");
        using A = CaptureAuthorization;
        QTest::newRow("label granted wins over a denied capture")
            << "granted" << A::Denied << true << "Mikrofonioikeus: sallittu" << true << false
            << false;
        QTest::newRow("authorized capture")
            << "unknown" << A::Authorized << true << "Mikrofonioikeus: sallittu" << true << false
            << false;
        QTest::newRow("denied label, undecided capture: contradictory")
            << "denied" << A::NotDetermined << true
            << "Mikrofonioikeus: tila ristiriitainen (yritä pyytää lupa)" << false << true << false;
        QTest::newRow("unknown label, denied capture: effectively denied")
            << "unknown" << A::Denied << true << "Mikrofonioikeus: estetty (avaa ääniasetukset)"
            << false << false << true;
        QTest::newRow("restricted and denied")
            << "denied" << A::Restricted << true
            << "Mikrofonioikeus: rajoitettu (järjestelmä tai MDM)" << false << false << true;
        QTest::newRow("restricted, label undetermined: may still ask")
            << "undetermined" << A::Restricted << true
            << "Mikrofonioikeus: rajoitettu (järjestelmä tai MDM)" << false << true << true;
        QTest::newRow("not yet asked")
            << "undetermined" << A::NotDetermined << true
            << "Mikrofonioikeus: ei vielä myönnetty (pyydä lupa)" << false << true << false;
        QTest::newRow("undetermined label, unknown capture")
            << "undetermined" << A::Unknown << true
            << "Mikrofonioikeus: ei vielä myönnetty (pyydä lupa)" << false << true << false;
        QTest::newRow("nothing known")
            << "unknown" << A::Unknown << true
            << "Mikrofonioikeus: tila epäselvä (kokeile pyytää lupa)" << false << true << false;
        QTest::newRow("usage description missing, denied")
            << "denied" << A::Denied << false
            << "Mikrofonioikeus: appista puuttuu käyttöselite (Info.plist)" << false << false
            << true;
        QTest::newRow("usage description missing, granted")
            << "granted" << A::Authorized << false
            << "Mikrofonioikeus: appista puuttuu käyttöselite (Info.plist)" << true << false
            << false;
    }
    void microphoneSnapshot()
    {
        QFETCH(QString, label);
        QFETCH(CaptureAuthorization, capture);
        QFETCH(bool, usageDescription);
        MicrophonePermissionFacts facts;
        facts.recordLabel = label;
        facts.capture = capture;
        facts.hasUsageDescription = usageDescription;
        facts.bundleId = QStringLiteral("com.kestrova.vernalo");
        facts.platformDetail = QStringLiteral("pulse=reachable");
        const MicrophonePermissionSnapshot snapshot = microphonePermissionSnapshot(facts);
        QTEST(snapshot.summaryText, "summary");
        QTEST(snapshot.isGranted, "granted");
        QTEST(snapshot.canRequestPrompt, "canRequest");
        QTEST(snapshot.shouldOpenSystemSettings, "openSettings");
        QCOMPARE(snapshot.detailText,
                 QStringLiteral("pulse=reachable, bundle=com.kestrova.vernalo, usageDesc=%1")
                     .arg(usageDescription ? "ok" : "missing"));
    }

    void systemSnapshot_data()
    {
        QTest::addColumn<bool>("preflight");
        QTest::addColumn<int>("probe"); // -1: not probed
        QTest::addColumn<bool>("declared");
        QTest::addColumn<bool>("askedBefore");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<bool>("canRequest");
        QTest::newRow("probe wins over preflight")
            << false << 1 << true << false << "Systeemiäänen oikeus: sallittu" << true << false;
        QTest::newRow("failed probe wins too")
            << true << 0 << true << false << "Systeemiäänen oikeus: ei vielä sallittu (pyydä lupa)"
            << false << true;
        QTest::newRow("preflight alone")
            << true << -1 << true << false << "Systeemiäänen oikeus: sallittu" << true << false;
        QTest::newRow("asked in this run already")
            << false << -1 << true << true
            << "Systeemiäänen oikeus: puuttuu tai estetty (avaa ääniasetukset)" << false << true;
        QTest::newRow("usage description missing even when granted")
            << true << 1 << false << false
            << "Systeemiäänen oikeus: appista puuttuu käyttöselite (Info.plist)" << true << false;
    }
    void systemSnapshot()
    {
        QFETCH(bool, preflight);
        QFETCH(int, probe);
        QFETCH(bool, declared);
        QFETCH(bool, askedBefore);
        QFETCH(bool, granted);
        SystemAudioPermissionFacts facts;
        facts.preflight = preflight;
        if (probe >= 0)
            facts.probe = probe == 1;
        facts.hasAudioUsageDescription = declared;
        facts.bundleId = QStringLiteral("com.kestrova.vernalo");
        facts.bundlePath = QStringLiteral("/usr/bin/vernalo");
        facts.hasRequestedPermissionThisRun = askedBefore;
        const SystemAudioPermissionSnapshot snapshot = systemAudioPermissionSnapshot(facts);
        QTEST(snapshot.summaryText, "summary");
        QCOMPARE(snapshot.isGranted, granted);
        QTEST(snapshot.canRequestPrompt, "canRequest");
        QCOMPARE(snapshot.shouldOpenSystemSettings, !granted);
        QCOMPARE(snapshot.detailText,
                 QStringLiteral(
                     "probe=%1, pulse=%2, bundle=com.kestrova.vernalo, path=/usr/bin/vernalo, "
                     "screenUsageDesc=ok, audioUsageDesc=%3")
                     .arg(probe < 0 ? "-" : (probe == 1 ? "true" : "false"),
                          preflight ? "reachable" : "unreachable", declared ? "ok" : "missing"));
    }

    void systemRequestOutcome_data()
    {
        QTest::addColumn<bool>("requestResult");
        QTest::addColumn<bool>("snapshotGranted");
        QTest::addColumn<bool>("openSettings");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("relaunch"); // -1: unchanged
        QTest::addColumn<int>("help");
        QTest::newRow("granted") << true << true << false << "Systeemiäänioikeus käytössä" << 0
                                 << 0;
        QTest::newRow("granted but not in effect yet")
            << true << false << true << "Systeemiäänilupa myönnetty. Käynnistä appi uudelleen." << 1
            << 1;
        QTest::newRow("missing") << false << false << true
                                 << "Systeemiäänioikeus puuttuu. Avaa ääniasetukset." << -1 << 1;
        QTest::newRow("undecided")
            << false << false << false << "Systeemiäänilupaa ei saatu. Tarkista tila." << -1 << 1;
    }
    void systemRequestOutcome()
    {
        QFETCH(bool, requestResult);
        QFETCH(bool, snapshotGranted);
        QFETCH(bool, openSettings);
        QFETCH(int, relaunch);
        QFETCH(int, help);
        SystemAudioPermissionSnapshot snapshot;
        snapshot.isGranted = snapshotGranted;
        snapshot.shouldOpenSystemSettings = openSettings;
        const SystemAudioRequestOutcome outcome =
            systemAudioRequestOutcome(requestResult, snapshot);
        QTEST(outcome.statusText, "status");
        QCOMPARE(outcome.shouldSuggestRelaunch ? int(*outcome.shouldSuggestRelaunch) : -1,
                 relaunch);
        QCOMPARE(outcome.showPermissionHelp ? int(*outcome.showPermissionHelp) : -1, help);
    }

    void openSettings_data()
    {
        QTest::addColumn<bool>("opens");
        QTest::addColumn<int>("pane");
        QTest::addColumn<QString>("status");
        QTest::newRow("microphone")
            << true << int(CaptureSettingsPane::Microphone) << "Avattiin ääniasetukset (mikrofoni)";
        QTest::newRow("system audio") << true << int(CaptureSettingsPane::SystemAudio)
                                      << "Avattiin ääniasetukset (systeemiääni)";
        QTest::newRow("nothing to open") << false << int(CaptureSettingsPane::Microphone)
                                         << "Ääniasetusten avaaminen epäonnistui";
    }
    void openSettings()
    {
        QFETCH(bool, opens);
        QFETCH(int, pane);
        test::FakeDesktopServices desktop;
        desktop.openSucceeds = opens;
        QTEST(openCaptureSoundSettings(desktop, CaptureSettingsPane(pane)), "status");
        QCOMPARE(desktop.soundSettingsOpened, 1);
    }
};

VERNALO_TEST_MAIN(CapturePermissionsTest)
#include "test_capture_permissions.moc"
