#include "audio/capture_errors.h"

namespace vernalo {

namespace {

QString microphoneText(MicrophoneCaptureError::Kind kind)
{
    switch (kind) {
    case MicrophoneCaptureError::Kind::PermissionDenied:
        return QStringLiteral("Mikrofonin käyttöoikeus puuttuu");
    case MicrophoneCaptureError::Kind::EngineNotReady:
        return QStringLiteral("Audio engine ei ole käyttövalmis");
    }
    return {};
}

QString systemAudioText(SystemAudioCaptureError::Kind kind)
{
    switch (kind) {
    case SystemAudioCaptureError::Kind::PermissionDenied:
        return QStringLiteral("Systeemiäänen käyttöoikeus puuttuu (äänipalvelin).");
    case SystemAudioCaptureError::Kind::RestartRequiredAfterPermissionGrant:
        return QStringLiteral(
            "Systeemiäänen lupa myönnetty. Käynnistä Vernalo uudelleen ja yritä uudestaan.");
    case SystemAudioCaptureError::Kind::NoDisplay:
        return QStringLiteral("Näyttölähdettä ei löytynyt systeemiäänen kaappaukseen.");
    case SystemAudioCaptureError::Kind::StreamSetupFailed:
        return QStringLiteral("Systeemiäänen kaappausta ei voitu käynnistää.");
    }
    return {};
}

} // namespace

MicrophoneCaptureError::MicrophoneCaptureError(Kind kind)
    : m_kind(kind)
    , m_what(microphoneText(kind).toUtf8())
{ }

QString MicrophoneCaptureError::errorDescription() const
{
    return microphoneText(m_kind);
}

SystemAudioCaptureError::SystemAudioCaptureError(Kind kind)
    : m_kind(kind)
    , m_what(systemAudioText(kind).toUtf8())
{ }

QString SystemAudioCaptureError::errorDescription() const
{
    return systemAudioText(m_kind);
}

} // namespace vernalo
