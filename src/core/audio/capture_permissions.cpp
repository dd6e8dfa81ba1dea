#include "audio/capture_permissions.h"

#include "ports/desktop_services.h"

#include <QCoreApplication>
#include <QStringList>

namespace vernalo {

namespace {

QString okOrMissing(bool present)
{
    return present ? QStringLiteral("ok") : QStringLiteral("missing");
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

QString uncheckedMicrophonePermissionSummary()
{
    return QStringLiteral("Mikrofonioikeus: tarkistamatta");
}

QString uncheckedSystemAudioPermissionSummary()
{
    return QStringLiteral("Systeemiäänen oikeus: tarkistamatta");
}

QString captureAuthorizationLabel(CaptureAuthorization authorization)
{
    switch (authorization) {
    case CaptureAuthorization::NotDetermined:
        return QStringLiteral("notDetermined");
    case CaptureAuthorization::Restricted:
        return QStringLiteral("restricted");
    case CaptureAuthorization::Denied:
        return QStringLiteral("denied");
    case CaptureAuthorization::Authorized:
        return QStringLiteral("authorized");
    case CaptureAuthorization::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

bool isMicrophoneGranted(const MicrophonePermissionFacts &facts)
{
    return facts.recordLabel == QLatin1String("granted") ||
        facts.capture == CaptureAuthorization::Authorized;
}

bool isMicrophoneEffectivelyDenied(const MicrophonePermissionFacts &facts)
{
    const bool captureRefused = facts.capture == CaptureAuthorization::Restricted ||
        facts.capture == CaptureAuthorization::Denied;
    const bool labelRefused = facts.recordLabel == QLatin1String("denied") ||
        facts.recordLabel == QLatin1String("unknown");
    return captureRefused && labelRefused;
}

MicrophonePermissionSnapshot microphonePermissionSnapshot(const MicrophonePermissionFacts &facts)
{
    const bool granted = isMicrophoneGranted(facts);
    const bool denied = isMicrophoneEffectivelyDenied(facts);
    const bool restricted = facts.capture == CaptureAuthorization::Restricted;

    MicrophonePermissionSnapshot snapshot;
    snapshot.isGranted = granted;
    QStringList detail;
    if (!facts.platformDetail.isEmpty())
        detail << facts.platformDetail;
    detail << QStringLiteral("bundle=%1").arg(facts.bundleId)
           << QStringLiteral("usageDesc=%1").arg(okOrMissing(facts.hasUsageDescription));
    snapshot.detailText = detail.join(QStringLiteral(", "));

    auto set = [&snapshot](const char *summary, bool canRequest, bool openSettings) {
        snapshot.summaryText = QString::fromUtf8(summary);
        snapshot.canRequestPrompt = canRequest;
        snapshot.shouldOpenSystemSettings = openSettings;
    };
    if (!facts.hasUsageDescription)
        set("Mikrofonioikeus: appista puuttuu käyttöselite (Info.plist)", false,
            !granted && (denied || restricted));
    else if (granted)
        set("Mikrofonioikeus: sallittu", false, false);
    else if (denied && restricted)
        set("Mikrofonioikeus: rajoitettu (järjestelmä tai MDM)", false, true);
    else if (denied)
        set("Mikrofonioikeus: estetty (avaa ääniasetukset)", false, true);
    else if (restricted)
        set("Mikrofonioikeus: rajoitettu (järjestelmä tai MDM)", true, true);
    else if (facts.recordLabel == QLatin1String("denied") &&
             facts.capture == CaptureAuthorization::NotDetermined)
        set("Mikrofonioikeus: tila ristiriitainen (yritä pyytää lupa)", true, false);
    else if (facts.capture == CaptureAuthorization::NotDetermined ||
             facts.recordLabel == QLatin1String("undetermined"))
        set("Mikrofonioikeus: ei vielä myönnetty (pyydä lupa)", true, false);
    else
        set("Mikrofonioikeus: tila epäselvä (kokeile pyytää lupa)", true, false);
    return snapshot;
}

MicrophonePermissionFacts microphonePermissionFacts(const AudioServerStatus &status)
{
    MicrophonePermissionFacts facts;
    facts.bundleId = captureBundleId();
    facts.hasUsageDescription = true;
    if (status.reachable) {
        facts.recordLabel = QStringLiteral("granted");
        facts.capture = CaptureAuthorization::Authorized;
        facts.platformDetail = QStringLiteral("pulse=reachable, server=%1").arg(status.serverName);
    } else {
        facts.recordLabel = QStringLiteral("denied");
        facts.capture = CaptureAuthorization::Denied;
        facts.platformDetail =
            QStringLiteral("pulse=unreachable, error=%1")
                .arg(status.error ? status.error->description : QStringLiteral("-"));
    }
    return facts;
}

SystemAudioPermissionSnapshot systemAudioPermissionSnapshot(const SystemAudioPermissionFacts &facts)
{
    const bool granted = facts.probe.value_or(facts.preflight);
    const bool declared = facts.hasScreenUsageDescription && facts.hasAudioUsageDescription;

    SystemAudioPermissionSnapshot snapshot;
    snapshot.isGranted = granted;
    snapshot.canRequestPrompt = declared && !granted;
    snapshot.shouldOpenSystemSettings = !granted;
    if (!declared)
        snapshot.summaryText =
            QStringLiteral("Systeemiäänen oikeus: appista puuttuu käyttöselite (Info.plist)");
    else if (granted)
        snapshot.summaryText = QStringLiteral("Systeemiäänen oikeus: sallittu");
    else if (facts.hasRequestedPermissionThisRun)
        snapshot.summaryText =
            QStringLiteral("Systeemiäänen oikeus: puuttuu tai estetty (avaa ääniasetukset)");
    else
        snapshot.summaryText =
            QStringLiteral("Systeemiäänen oikeus: ei vielä sallittu (pyydä lupa)");

    const QStringList detail = {
        QStringLiteral("probe=%1").arg(facts.probe ? boolText(*facts.probe) : QStringLiteral("-")),
        QStringLiteral("pulse=%1")
            .arg(facts.preflight ? QStringLiteral("reachable") : QStringLiteral("unreachable")),
        QStringLiteral("bundle=%1").arg(facts.bundleId),
        QStringLiteral("path=%1").arg(facts.bundlePath),
        QStringLiteral("screenUsageDesc=%1").arg(okOrMissing(facts.hasScreenUsageDescription)),
        QStringLiteral("audioUsageDesc=%1").arg(okOrMissing(facts.hasAudioUsageDescription))};
    snapshot.detailText = detail.join(QStringLiteral(", "));
    return snapshot;
}

QString captureBundleId()
{
    return QStringLiteral("com.kestrova.vernalo");
}

QString captureBundlePath()
{
    return QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                        : QStringLiteral("-");
}

QString microphoneRequestStatusText(bool requestGranted,
                                    const MicrophonePermissionSnapshot &snapshot)
{
    if (requestGranted || snapshot.isGranted)
        return QStringLiteral("Mikrofonioikeus käytössä");
    if (snapshot.shouldOpenSystemSettings)
        return QStringLiteral("Mikrofonioikeus estetty. Avaa ääniasetukset.");
    return QStringLiteral("Mikrofonilupaa ei saatu. Tarkista tila.");
}

SystemAudioRequestOutcome systemAudioRequestOutcome(bool requestResult,
                                                    const SystemAudioPermissionSnapshot &snapshot)
{
    SystemAudioRequestOutcome outcome;
    if (snapshot.isGranted) {
        outcome.statusText = QStringLiteral("Systeemiäänioikeus käytössä");
        outcome.shouldSuggestRelaunch = false;
        outcome.showPermissionHelp = false;
    } else if (requestResult) {
        // Granted, but not yet in effect for this process.
        outcome.statusText =
            QStringLiteral("Systeemiäänilupa myönnetty. Käynnistä appi uudelleen.");
        outcome.shouldSuggestRelaunch = true;
        outcome.showPermissionHelp = true;
    } else {
        outcome.showPermissionHelp = true;
        outcome.statusText = snapshot.shouldOpenSystemSettings
            ? QStringLiteral("Systeemiäänioikeus puuttuu. Avaa ääniasetukset.")
            : QStringLiteral("Systeemiäänilupaa ei saatu. Tarkista tila.");
    }
    return outcome;
}

SystemAudioPermissionErrorOutcome
systemAudioPermissionErrorOutcome(SystemAudioCaptureError::Kind kind)
{
    SystemAudioPermissionErrorOutcome outcome;
    switch (kind) {
    case SystemAudioCaptureError::Kind::PermissionDenied:
        outcome.showPermissionHelp = true;
        outcome.diagnosticHint = QStringLiteral("Systeemiäänioikeus puuttuu. Avaa ääniasetukset.");
        outcome.statusText = QStringLiteral("Systeemiäänioikeus puuttuu. Avaa ääniasetukset.");
        break;
    case SystemAudioCaptureError::Kind::RestartRequiredAfterPermissionGrant:
        outcome.shouldSuggestRelaunch = true;
        outcome.showPermissionHelp = true;
        outcome.diagnosticHint =
            QStringLiteral("Systeemiäänilupa myönnetty. Käynnistä appi uudelleen.");
        break;
    case SystemAudioCaptureError::Kind::NoDisplay:
    case SystemAudioCaptureError::Kind::StreamSetupFailed:
        break;
    }
    return outcome;
}

QString openCaptureSoundSettings(DesktopServices &desktop, CaptureSettingsPane pane)
{
    if (!desktop.openSoundSettings())
        return QStringLiteral("Ääniasetusten avaaminen epäonnistui");
    return pane == CaptureSettingsPane::Microphone
        ? QStringLiteral("Avattiin ääniasetukset (mikrofoni)")
        : QStringLiteral("Avattiin ääniasetukset (systeemiääni)");
}

} // namespace vernalo
