#pragma once

#include "wire/stream_audio_format.h"

#include <QByteArray>
#include <span>
#include <vector>

namespace vernalo {

// The one audio format that leaves the program is the live stream's (wire/stream_audio_format.h,
// with the level measure); these are the capture side's limits on its chunks.
namespace pcm {
inline constexpr int kMinChunkBytes = 640; // 20 ms, the shortest system-audio chunk
inline constexpr int kMaxChunkLatencyMs = 180;
} // namespace pcm

// True when every sample is zero: nothing was heard, not even a noise floor.
bool isDigitalSilence(const QByteArray &pcm);

enum class SampleFormat { Float32, Int16, Unsupported };

// Frames as a sound server hands them over, before conversion.
struct RawAudioFrames
{
    QByteArray bytes;
    SampleFormat format = SampleFormat::Float32;
    int channels = 1;
    double sampleRate = 48000.0;
    bool interleaved = true; // planar buffers hold channel after channel

    int frameCount() const;
};

// One mono sample per frame, the mean of the channels; empty for an unsupported format, no
// frames or no channels.
std::vector<float> downmixToMono(const RawAudioFrames &frames);

// Resampling to 16 kHz. Kept behind this one function so a filtering resampler can replace it:
// today it picks samples without interpolation or filtering (count max(floor(n·16000/r), 1),
// source index min(floor(j·r/16000), n−1)), which the backend's stored results rely on.
std::vector<float> resampleTo16k(std::span<const float> mono, double sourceRate);

// Quantises to PCM16: below −1 clamps to −1, x ≥ 1 gives 32767, else round(x·32767).
QByteArray quantizeToPCM16(std::span<const float> samples);

// The whole conversion of one buffer; empty when there is nothing to emit.
QByteArray convertToPCM16(const RawAudioFrames &frames);

} // namespace vernalo
