#include "audio/pcm_mixer.h"

#include "audio/pcm_format.h"
#include "foundation/stt_configuration.h"

#include <algorithm>
#include <cmath>
#include <QtEndian>

namespace vernalo {

namespace {

constexpr double kActivityFloor = 0.012;
constexpr double kActivitySpan = 0.075;
constexpr double kMinDuckFactor = 0.12;
// Headroom so that two full sources rarely reach the limiter's knee.
constexpr double kMixHeadroom = 0.62;
constexpr double kLimiterDrive = 1.45;

constexpr std::size_t kTrimTrigger = 9;
constexpr std::size_t kTrimKeep = 3;
// A source whose partner is silent waits for this many of its own chunks before going out alone.
constexpr std::size_t kSoloAfter = 3;

qsizetype wholeSamples(qsizetype bytes)
{
    return bytes & ~qsizetype(1);
}

qint16 limitedSample(double x, bool limiter)
{
    static const double kLimiterNorm = std::tanh(kLimiterDrive);
    double v;
    if (limiter) {
        v = std::clamp(std::tanh(kLimiterDrive * x) / kLimiterNorm * 32767.0, -32768.0, 32767.0);
    } else if (x >= 1.0) {
        v = 32767.0;
    } else if (x < -1.0) {
        v = -32767.0;
    } else {
        v = x * 32767.0;
    }
    // std::round takes halves away from zero.
    return static_cast<qint16>(std::round(v));
}

int dropOldest(std::deque<QByteArray> &queue)
{
    const auto removed = queue.size() - kTrimKeep;
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(removed));
    return static_cast<int>(removed);
}

QByteArray popFront(std::deque<QByteArray> &queue)
{
    QByteArray chunk = std::move(queue.front());
    queue.pop_front();
    return chunk;
}

// The part of a chunk beyond the mixed span waits for the next partner. A lone trailing byte is
// half a sample: it could never be mixed and would only cost its next partner chunk.
void putBackRest(std::deque<QByteArray> &queue, const QByteArray &chunk, qsizetype used)
{
    if (chunk.size() - used >= 2)
        queue.push_front(chunk.mid(used));
}

} // namespace

double microphoneActivity(double micLevel)
{
    return std::clamp((micLevel - kActivityFloor) / kActivitySpan, 0.0, 1.0);
}

double duckFactor(const MixSettings &settings, double micLevel)
{
    if (!settings.autoDuckEnabled)
        return 1.0;
    const double strength = clampDuckingStrength(settings.duckingStrength);
    return std::max(1.0 - strength * microphoneActivity(micLevel), kMinDuckFactor);
}

QByteArray mixPCM16(const QByteArray &mic, const QByteArray &system, const MixSettings &settings)
{
    const qsizetype n = wholeSamples(std::min(mic.size(), system.size()));
    if (n < 2) {
        const QByteArray &only = mic.isEmpty() ? system : mic;
        return only.left(wholeSamples(only.size()));
    }

    const double micGain = clampGain(settings.micGain);
    const double systemGain = clampGain(settings.systemGain);
    const double micLevel = estimatePCM16Level(QByteArray::fromRawData(mic.constData(), n));
    const double duck = duckFactor(settings, micLevel);
    const bool limiter = settings.limiterEnabled;

    QByteArray out(n, Qt::Uninitialized);
    const auto *micBytes = reinterpret_cast<const uchar *>(mic.constData());
    const auto *systemBytes = reinterpret_cast<const uchar *>(system.constData());
    auto *outBytes = reinterpret_cast<uchar *>(out.data());
    for (qsizetype i = 0; i < n; i += 2) {
        const double m = qFromLittleEndian<qint16>(micBytes + i) / 32768.0;
        const double s = qFromLittleEndian<qint16>(systemBytes + i) / 32768.0;
        const double x = (micGain * m + duck * systemGain * s) * kMixHeadroom;
        qToLittleEndian<qint16>(limitedSample(x, limiter), outBytes + i);
    }
    return out;
}

QStringList BacklogTrim::logLines() const
{
    QStringList lines;
    if (micDropped > 0)
        lines << QStringLiteral("mixed backlog trim mic dropped=%1 remaining=%2")
                     .arg(micDropped)
                     .arg(micRemaining);
    if (systemDropped > 0)
        lines << QStringLiteral("mixed backlog trim system dropped=%1 remaining=%2")
                     .arg(systemDropped)
                     .arg(systemRemaining);
    return lines;
}

BacklogTrim trimMixedBacklog(MixedQueues &queues)
{
    BacklogTrim trim;
    if (!queues.system.empty() && queues.mic.size() >= kTrimTrigger)
        trim.micDropped = dropOldest(queues.mic);
    // Checked after the microphone pass: a queue is only trimmed while its partner still waits.
    if (!queues.mic.empty() && queues.system.size() >= kTrimTrigger)
        trim.systemDropped = dropOldest(queues.system);
    trim.micRemaining = static_cast<int>(queues.mic.size());
    trim.systemRemaining = static_cast<int>(queues.system.size());
    return trim;
}

std::optional<QByteArray> takeNextOutgoingChunk(MixedQueues &queues, const MixSettings &settings)
{
    for (;;) {
        if (queues.mic.empty()) {
            if (queues.system.size() < kSoloAfter)
                return std::nullopt;
            return popFront(queues.system);
        }
        if (queues.system.empty()) {
            if (queues.mic.size() < kSoloAfter)
                return std::nullopt;
            return popFront(queues.mic);
        }
        const QByteArray mic = popFront(queues.mic);
        const QByteArray system = popFront(queues.system);
        const qsizetype mixed = wholeSamples(std::min(mic.size(), system.size()));
        if (mixed < 2)
            continue;
        putBackRest(queues.mic, mic, mixed);
        putBackRest(queues.system, system, mixed);
        return mixPCM16(mic, system, settings);
    }
}

} // namespace vernalo
