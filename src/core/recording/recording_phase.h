#pragma once

namespace vernalo {

// Where one recording stands. Resuming is paused until the backend confirms; stopping runs the
// closing steps (final fetch, backend stop, save, export) after capture has ended.
enum class RecordingPhase { Idle, Starting, Live, Paused, Resuming, Stopping };

// A session is live on the backend, also while paused.
constexpr bool isRecordingPhase(RecordingPhase phase)
{
    return phase == RecordingPhase::Live || phase == RecordingPhase::Paused ||
        phase == RecordingPhase::Resuming;
}

constexpr bool isPausedPhase(RecordingPhase phase)
{
    return phase == RecordingPhase::Paused || phase == RecordingPhase::Resuming;
}

// A stop has something to end.
constexpr bool isStoppablePhase(RecordingPhase phase)
{
    return phase == RecordingPhase::Starting || isRecordingPhase(phase);
}

// Why a recording leaves its live phases.
enum class LeaveReason { StartFailed, StartTimedOut, UserStop, RemoteStop };

} // namespace vernalo
