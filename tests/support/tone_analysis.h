#pragma once

#include "audio/pcm_format.h"

#include <QByteArray>
#include <QList>
#include <QtEndian>

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

// 16-bit little-endian PCM from sample values, and back.
inline QByteArray pcm16(const QList<int> &samples)
{
    QByteArray out(samples.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < samples.size(); ++i)
        qToLittleEndian<qint16>(static_cast<qint16>(samples[i]), out.data() + 2 * i);
    return out;
}
inline QList<int> samplesOf(const QByteArray &data)
{
    QList<int> out;
    for (qsizetype i = 0; i + 1 < data.size(); i += 2)
        out << qFromLittleEndian<qint16>(data.constData() + i);
    return out;
}

// A chunk of bytes / 2 samples of one value (an odd byte count ends in a lone zero byte).
inline QByteArray constantChunk(int sample, qsizetype bytes)
{
    return pcm16(QList<int>(bytes / 2, sample)) + QByteArray(bytes % 2, '\0');
}

} // namespace vernalo::test
