#include "audio/pcm_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <QtEndian>

namespace vernalo {

int RawAudioFrames::frameCount() const
{
    int bytesPerSample = 0;
    switch (format) {
    case SampleFormat::Float32:
        bytesPerSample = 4;
        break;
    case SampleFormat::Int16:
        bytesPerSample = 2;
        break;
    case SampleFormat::Unsupported:
        return 0;
    }
    if (channels <= 0)
        return 0;
    return static_cast<int>(bytes.size() / (bytesPerSample * channels));
}

namespace {

float sampleAt(const RawAudioFrames &frames, qsizetype index)
{
    const char *base = frames.bytes.constData();
    if (frames.format == SampleFormat::Float32) {
        float value;
        std::memcpy(&value, base + index * 4, 4);
        return value;
    }
    return static_cast<float>(qFromLittleEndian<qint16>(base + index * 2)) * (1.0f / 32768.0f);
}

} // namespace

std::vector<float> downmixToMono(const RawAudioFrames &frames)
{
    const int count = frames.frameCount();
    if (count <= 0)
        return {};
    const int channels = frames.channels;
    std::vector<float> mono(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        float sum = 0.0f;
        for (int c = 0; c < channels; ++c) {
            const qsizetype index = frames.interleaved ? static_cast<qsizetype>(i) * channels + c
                                                       : static_cast<qsizetype>(c) * count + i;
            sum += sampleAt(frames, index);
        }
        mono[static_cast<size_t>(i)] = sum / static_cast<float>(channels);
    }
    return mono;
}

std::vector<float> resampleTo16k(std::span<const float> mono, double sourceRate)
{
    if (mono.empty())
        return {};
    const double rate = std::max(sourceRate, 1.0);
    const auto frames = static_cast<qint64>(mono.size());
    const qint64 outCount =
        std::max<qint64>(static_cast<qint64>(std::floor(frames * pcm::kSampleRate / rate)), 1);
    std::vector<float> out(static_cast<size_t>(outCount));
    for (qint64 j = 0; j < outCount; ++j) {
        const auto source =
            std::min(static_cast<qint64>(std::floor(j * rate / pcm::kSampleRate)), frames - 1);
        out[static_cast<size_t>(j)] = mono[static_cast<size_t>(source)];
    }
    return out;
}

QByteArray quantizeToPCM16(std::span<const float> samples)
{
    QByteArray out(static_cast<qsizetype>(samples.size()) * 2, Qt::Uninitialized);
    auto *bytes = reinterpret_cast<uchar *>(out.data());
    for (size_t i = 0; i < samples.size(); ++i) {
        // NaN from a broken driver is silence, not undefined rounding.
        const float x = std::isnan(samples[i]) ? 0.0f : std::max(samples[i], -1.0f);
        const qint16 value =
            x < 1.0f ? static_cast<qint16>(std::lround(x * 32767.0f)) : qint16(32767);
        qToLittleEndian<qint16>(value, bytes + 2 * i);
    }
    return out;
}

QByteArray convertToPCM16(const RawAudioFrames &frames)
{
    const auto mono = downmixToMono(frames);
    if (mono.empty())
        return {};
    const auto resampled = resampleTo16k(mono, frames.sampleRate);
    return quantizeToPCM16(resampled);
}

bool isDigitalSilence(const QByteArray &pcm)
{
    return std::all_of(pcm.begin(), pcm.end(), [](char byte) { return byte == 0; });
}

} // namespace vernalo
