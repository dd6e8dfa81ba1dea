#pragma once

#include "audio/capture_errors.h"
#include "ports/audio_system.h"

#include <optional>
#include <QString>

namespace vernalo {

class DesktopServices;

struct MicrophonePermissionSnapshot
{
    QString summaryText;
    QString detailText;
    bool isGranted = false;
    bool canRequestPrompt = false;
    bool shouldOpenSystemSettings = false;

    bool operator==(const MicrophonePermissionSnapshot &other) const = default;
};

struct SystemAudioPermissionSnapshot
{
    QString summaryText;
    QString detailText;
    bool isGranted = false;
    bool canRequestPrompt = false;
    bool shouldOpenSystemSettings = false;

    bool operator==(const SystemAudioPermissionSnapshot &other) const = default;
};

// What the settings screen shows before the first check.
QString uncheckedMicrophonePermissionSummary();
QString uncheckedSystemAudioPermissionSummary();

// The access state of the capture layer.
enum class CaptureAuthorization { NotDetermined, Restricted, Denied, Authorized, Unknown };
QString captureAuthorizationLabel(CaptureAuthorization authorization);

// The signals a microphone snapshot is made of. recordLabel is "granted", "denied",
// "undetermined" or "unknown".
struct MicrophonePermissionFacts
{
    QString recordLabel = QStringLiteral("unknown");
    CaptureAuthorization capture = CaptureAuthorization::Unknown;
    bool hasUsageDescription = true;
    QString bundleId = QStringLiteral("-");
    QString platformDetail; // leads the detail text, e.g. "pulse=reachable, server=..."
};

bool isMicrophoneGranted(const MicrophonePermissionFacts &facts);
bool isMicrophoneEffectivelyDenied(const MicrophonePermissionFacts &facts);
MicrophonePermissionSnapshot microphonePermissionSnapshot(const MicrophonePermissionFacts &facts);

// On this desktop the sound server is the gate: reachable means granted, unreachable denied.
// A missing microphone is a device error, never a refusal.
MicrophonePermissionFacts microphonePermissionFacts(const AudioServerStatus &status);

struct SystemAudioPermissionFacts
{
    bool preflight = false;
    std::optional<bool> probe; // none when not probed
    bool hasScreenUsageDescription = true;
    bool hasAudioUsageDescription = true;
    QString bundleId = QStringLiteral("-");
    QString bundlePath;
    bool hasRequestedPermissionThisRun = false;
};

SystemAudioPermissionSnapshot
systemAudioPermissionSnapshot(const SystemAudioPermissionFacts &facts);

// The identity written into detail texts and log lines.
QString captureBundleId();
QString captureBundlePath();

// Status text after the microphone request of the settings screen.
QString microphoneRequestStatusText(bool requestGranted,
                                    const MicrophonePermissionSnapshot &snapshot);

// What the settings screen does after a system-audio request; unset flags stay as they were.
struct SystemAudioRequestOutcome
{
    QString statusText;
    std::optional<bool> shouldSuggestRelaunch;
    std::optional<bool> showPermissionHelp;
};
SystemAudioRequestOutcome systemAudioRequestOutcome(bool requestResult,
                                                    const SystemAudioPermissionSnapshot &snapshot);

// What a system-audio start failure changes on the settings screen; empty for errors that are
// not about access.
struct SystemAudioPermissionErrorOutcome
{
    std::optional<QString> statusText;
    std::optional<QString> diagnosticHint;
    std::optional<bool> shouldSuggestRelaunch;
    std::optional<bool> showPermissionHelp;
};
SystemAudioPermissionErrorOutcome
systemAudioPermissionErrorOutcome(SystemAudioCaptureError::Kind kind);

// Opens the desktop's sound settings and returns the status text to show.
enum class CaptureSettingsPane { Microphone, SystemAudio };
QString openCaptureSoundSettings(DesktopServices &desktop, CaptureSettingsPane pane);

} // namespace vernalo
