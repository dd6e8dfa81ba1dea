#pragma once

#include "foundation/models.h"

#include <deque>
#include <optional>
#include <QByteArray>
#include <QStringList>

namespace vernalo {

// How strongly the microphone is active, 0..1, from its level: 0.012 or quieter is no activity,
// 0.087 or louder is full activity, linear in between.
double microphoneActivity(double micLevel);

// The factor applied to system audio while the microphone speaks; 1.0 without ducking and never
// below 0.12, so the other side of a call stays audible.
double duckFactor(const MixSettings &settings, double micLevel);

// Mixes one microphone and one system chunk of PCM16 sample by sample into a chunk as long as
// the shorter one (rounded down to whole samples). Gains and ducking are clamped to the ranges
// the mixer accepts; ducking follows the microphone's level over the mixed span. The limiter
// bends peaks softly (tanh); without it samples clip hard at ±32767.
// When no whole sample can be mixed, the non-empty input is returned as it is, cut to whole
// samples.
QByteArray mixPCM16(const QByteArray &mic, const QByteArray &system, const MixSettings &settings);

// The two waiting lines of mixed recording: chunks of each source waiting for a partner.
struct MixedQueues
{
    std::deque<QByteArray> mic;
    std::deque<QByteArray> system;

    void clear()
    {
        mic.clear();
        system.clear();
    }
};

// What one trimming pass removed.
struct BacklogTrim
{
    int micDropped = 0;
    int micRemaining = 0;
    int systemDropped = 0;
    int systemRemaining = 0;

    bool trimmedAnything() const { return micDropped > 0 || systemDropped > 0; }
    // One log line per trimmed queue, microphone first.
    QStringList logLines() const;
};

// When one source runs ahead of the other, its queue grows; at 9 waiting chunks (while the other
// queue holds at least one) the oldest are dropped so that the newest 3 remain. This bounds both
// the memory and the delay a lagging source can cause.
BacklogTrim trimMixedBacklog(MixedQueues &queues);

// One step of draining the queues: the next chunk to send, or nothing when both sources must wait
// for more audio. Pairs are mixed; a source whose partner is silent goes out alone once three of
// its chunks wait (at most ~200 ms of delay). Uneven pairs are mixed over the shorter length and
// the rest of the longer chunk goes back to the front of its queue. Pairs in which no whole
// sample can be mixed are dropped.
std::optional<QByteArray> takeNextOutgoingChunk(MixedQueues &queues, const MixSettings &settings);

} // namespace vernalo
