#pragma once

#include "audio/capture_errors.h"
#include "foundation/models.h"
#include "foundation/stt_configuration.h"
#include "recording/capture_rig.h"

#include <optional>
#include <QDateTime>
#include <QList>
#include <QUuid>

namespace vernalo {

// What a start works with, read once when it is pressed.
struct StartAttempt
{
    QUuid id;
    quint64 generation = 0;
    AudioInputMode mode = AudioInputMode::Microphone;
    QString language;
    QString model;
    STTConfiguration config;
    CaptureSelection selection;
};

// Why a start failed: the text for the status line and, for capture errors, which kind.
struct StartFailure
{
    QString description;
    std::optional<MicrophoneCaptureError::Kind> microphoneError;
    std::optional<SystemAudioCaptureError::Kind> systemAudioError;
};

// What the closing steps of a recording work with, captured when it ended. A stop pressed by
// the user asks the server to finish and stops the backend session; a stop the server or the
// stream caused does neither.
struct FinishPlan
{
    quint64 generation = 0;
    bool userStop = true;
    QString sessionId;
    QList<TranscriptSegment> segmentsAtStop;
    QDateTime startedAt;
    QString language;
    QString model;
    STTConfiguration config;
    AudioInputMode mode = AudioInputMode::Microphone;
};

// Once-per-recording repairs and counters of the audio health rules; reset by every start and
// stop.
struct AudioHealthState
{
    int rawWithoutPCMStreak = 0;
    bool hasAttemptedSystemFallback = false;
    bool hasAttemptedMixedMicrophoneRestart = false;
    bool hasAttemptedMicrophoneDeviceFallback = false;
    bool hasAutoExportedFallbackDiagnostics = false;
    // Microphones (source ids) that delivered sound in this recording: never replaced.
    QList<quint32> heardMicrophones;
    // Why the microphone last (re)opened; the liveness check after it names it.
    QString microphoneStartReason = QStringLiteral("start");
    bool microphoneMuteLogged = false;
    // The microphone's count of frames with signal at the last poll, and since when (monotonic
    // ms) it has not grown; a long silence of a heard microphone is said once per stretch.
    int micSignalFramesAtPoll = 0;
    qint64 micSilentSinceMs = 0;
    bool longSilenceNoted = false;
};

} // namespace vernalo
