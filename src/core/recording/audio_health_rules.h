#pragma once

#include "audio/pcm_format.h"
#include "foundation/models.h"

#include <optional>
#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace vernalo {

// What the health rules look at after each metadata poll: the server's view of the session and
// the controller's own counters of the running capture.
struct AudioHealthInput
{
    AudioInputMode mode = AudioInputMode::Microphone;
    bool paused = false;

    // From the session metadata; absent values count as 0.
    std::optional<qint64> audioFrameCount;
    std::optional<double> avgAudioLevel;
    std::optional<qint64> interimCount;
    std::optional<qint64> finalCount;
    QString sttErrorMessage;

    // Microphone chunks that carried sound. A source that only hands out exact digital silence
    // (a Bluetooth headset stuck between profiles, a muted device) has delivered nothing.
    int micFramesWithSignal = 0;
    int micFramesSeen = 0;
    double micAudioPeak = 0.0;
    int systemFramesSeen = 0;
    int systemRawSamplesSeen = 0;
    double systemAudioPeak = 0.0;

    int rawWithoutPCMStreak = 0;
    bool allowSystemFallback = true;
    bool hasStreamClient = true;
    bool hasAttemptedMixedMicrophoneRestart = false;
    // A stable microphone other than the current one exists and the switch has not been tried.
    bool canSwitchToStableMicrophone = false;
    // The open microphone is muted in the sound server: its silence is the user's choice.
    bool microphoneMuted = false;
};

// The repair the controller runs after applying a decision.
enum class AudioHealthRepair {
    None,
    StableMicrophoneFallback,
    MixedMicrophoneRestart,
    SystemAudioFallback,
};

struct AudioHealthDecision
{
    // The hint to show; none leaves the current one (a repair writes its own).
    std::optional<QString> hint;
    // The diagnosis line for the log; empty when there is none.
    QString logLine;
    int rawWithoutPCMStreak = 0;
    AudioHealthRepair repair = AudioHealthRepair::None;
    // The trigger the repair names in its log lines.
    QString trigger;
};

// The first rule that applies to the input. Pure: the controller applies the decision.
AudioHealthDecision evaluateAudioHealthRules(const AudioHealthInput &input);

// The inputs of the one-line live diagnostics shown while recording.
struct RealtimeDiagnostics
{
    int audioFramesSent = 0;
    int micFramesSeen = 0;
    double micAudioPeak = 0.0;
    int systemFramesSeen = 0;
    double systemAudioPeak = 0.0;
    QDateTime lastPartialReceivedAt;
    QDateTime lastFinalReceivedAt;
    QDateTime lastSessionMetaReceivedAt;
    int mixedLagDropMicChunks = 0;
    int mixedLagDropSystemChunks = 0;
};

// "Audio 12 • mic 10/0.120 • sys 0/0.000 • partial 3s • final - • meta 1s • mixDrop m:0 s:0".
QString realtimeDiagnosticsLabel(const RealtimeDiagnostics &diagnostics, const QDateTime &now);

} // namespace vernalo
