#pragma once

#include "audio/pcm_format.h"

#include <QByteArray>

namespace vernalo::test {

// Raw frames of a sine, the same value in every channel, as a sound server would hand them over.
RawAudioFrames sineFrames(double frequency, double amplitude, double sampleRate, int channels,
                          int frames, SampleFormat format = SampleFormat::Float32,
                          bool interleaved = true, qint64 startFrame = 0);

// Amplitude (0..1 of full scale) of one frequency in 16 kHz PCM16, by the Goertzel filter.
double toneAmplitude(const QByteArray &pcm16, double frequency, int sampleRate = 16000);

// The strongest frequency in [minHz, maxHz], searched in steps of stepHz.
double dominantFrequency(const QByteArray &pcm16, double minHz = 100, double maxHz = 4000,
                         double stepHz = 5, int sampleRate = 16000);

} // namespace vernalo::test
