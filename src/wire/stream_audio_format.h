#pragma once

#include <QByteArray>

namespace vernalo {

// The audio the live stream carries (binary frames, or Base64 in the JSON audio message): signed
// 16-bit little-endian mono at 16 kHz, normally in 100 ms chunks. The client sends it and the
// reference server reads it.
namespace pcm {
inline constexpr int kSampleRate = 16000;
inline constexpr int kBytesPerSample = 2;
inline constexpr int kChunkBytes = 3200; // 1600 samples = 100 ms
} // namespace pcm

// Mean absolute sample value / 32768 over the whole 16-bit samples (0 for fewer than 2 bytes).
// Every level, peak and threshold of the program is measured with this, and the backend's
// reported session levels with the same measure, so the client's thresholds fit them.
double estimatePCM16Level(const QByteArray &data);

} // namespace vernalo
