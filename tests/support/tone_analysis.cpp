#include "support/tone_analysis.h"

#include <cmath>
#include <cstring>
#include <QtEndian>

namespace vernalo::test {

RawAudioFrames sineFrames(double frequency, double amplitude, double sampleRate, int channels,
                          int frames, SampleFormat format, bool interleaved, qint64 startFrame)
{
    RawAudioFrames raw;
    raw.format = format;
    raw.channels = channels;
    raw.sampleRate = sampleRate;
    raw.interleaved = interleaved;
    const int bytesPerSample = format == SampleFormat::Int16 ? 2 : 4;
    raw.bytes = QByteArray(static_cast<qsizetype>(frames) * channels * bytesPerSample, '\0');
    for (int i = 0; i < frames; ++i) {
        const double value = amplitude *
            std::sin(2.0 * M_PI * frequency * static_cast<double>(startFrame + i) / sampleRate);
        for (int c = 0; c < channels; ++c) {
            const qsizetype index = interleaved ? static_cast<qsizetype>(i) * channels + c
                                                : static_cast<qsizetype>(c) * frames + i;
            char *at = raw.bytes.data() + index * bytesPerSample;
            if (format == SampleFormat::Int16) {
                qToLittleEndian<qint16>(static_cast<qint16>(std::lround(value * 32767.0)), at);
            } else {
                const float sample = static_cast<float>(value);
                std::memcpy(at, &sample, 4);
            }
        }
    }
    return raw;
}

double toneAmplitude(const QByteArray &pcm16, double frequency, int sampleRate)
{
    const qsizetype count = pcm16.size() / 2;
    if (count == 0)
        return 0.0;
    const double omega = 2.0 * M_PI * frequency / sampleRate;
    const double coefficient = 2.0 * std::cos(omega);
    double previous = 0.0;
    double beforePrevious = 0.0;
    for (qsizetype i = 0; i < count; ++i) {
        const double x = qFromLittleEndian<qint16>(pcm16.constData() + 2 * i) / 32768.0;
        const double current = x + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power = previous * previous + beforePrevious * beforePrevious -
        coefficient * previous * beforePrevious;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(count);
}

double dominantFrequency(const QByteArray &pcm16, double minHz, double maxHz, double stepHz,
                         int sampleRate)
{
    double best = minHz;
    double bestAmplitude = -1.0;
    for (double f = minHz; f <= maxHz; f += stepHz) {
        const double amplitude = toneAmplitude(pcm16, f, sampleRate);
        if (amplitude > bestAmplitude) {
            bestAmplitude = amplitude;
            best = f;
        }
    }
    return best;
}

} // namespace vernalo::test
