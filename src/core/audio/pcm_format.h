#pragma once

#include <QByteArray>
#include <span>
#include <vector>

namespace vernalo {

// The one audio format that leaves the program: signed 16-bit little-endian mono at 16 kHz,
// normally in 100 ms chunks.
namespace pcm {
inline constexpr int kSampleRate = 16000;
inline constexpr int kBytesPerSample = 2;
inline constexpr int kChunkBytes = 3200; // 1600 samples = 100 ms
inline constexpr int kMinChunkBytes = 640; // 20 ms, the shortest system-audio chunk
inline constexpr int kMaxChunkLatencyMs = 180;
} // namespace pcm

// Mean absolute sample value / 32768 over the whole 16-bit samples (0 for fewer than 2 bytes).
// Every level, peak and threshold of the program is measured with this.
double estimatePCM16Level(const QByteArray &data);

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
