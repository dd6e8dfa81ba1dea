#include "audio/outgoing_audio_pipeline.h"

#include "audio/pcm_format.h"
#include "foundation/app_log.h"
#include "wire/clock.h"

#include <algorithm>

namespace vernalo {

namespace {

constexpr int kHintEveryChunks = 25;
constexpr double kAudibleLevel = 0.005;
constexpr qint64 kQuietBeforeSilenceMs = 1200;

} // namespace

std::optional<QString> listeningHint(bool paused, int audioFramesSent, double outgoingLevel)
{
    if (paused || audioFramesSent <= 0 || audioFramesSent % kHintEveryChunks != 0)
        return std::nullopt;
    return outgoingLevel < kAudibleLevel ? QStringLiteral("Odottaa puhetta...")
                                         : QStringLiteral("Kuuntelen...");
}

OutgoingAudioPipeline::OutgoingAudioPipeline(Clock *clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
{ }

OutgoingAudioPipeline::~OutgoingAudioPipeline() = default;

void OutgoingAudioPipeline::activate(AudioInputMode mode, ChunkSink sink)
{
    m_active = true;
    m_mode = mode;
    m_sink = std::make_shared<ChunkSink>(std::move(sink));
    m_queues.clear();
    m_lagDropMic = 0;
    m_lagDropSystem = 0;
    emit countersChanged();
}

void OutgoingAudioPipeline::setMode(AudioInputMode mode)
{
    const bool leavingMixed = m_mode == AudioInputMode::MicrophoneAndSystem &&
        mode != AudioInputMode::MicrophoneAndSystem;
    m_mode = mode;
    if (!leavingMixed)
        return;
    // What the remaining source already captured still goes out, in order; the other source's
    // chunks have no partner any more.
    std::deque<QByteArray> kept =
        std::move(mode == AudioInputMode::Microphone ? m_queues.mic : m_queues.system);
    m_queues.clear();
    for (const QByteArray &chunk : kept) {
        if (!m_active)
            break;
        sendOut(chunk);
    }
}

void OutgoingAudioPipeline::deactivate()
{
    m_active = false;
    m_sink.reset();
    m_queues.clear();
    m_lagDropMic = 0;
    m_lagDropSystem = 0;
    emit countersChanged();
}

void OutgoingAudioPipeline::resetForNewRecording()
{
    m_queues.clear();
    m_micFramesSeen = m_micFramesWithSignal = m_systemFramesSeen = m_systemRawSamplesSeen = 0;
    m_lagDropMic = m_lagDropSystem = 0;
    m_micLevel = m_micPeak = 0.0;
    m_systemLevel = m_systemPeak = 0.0;
    m_outgoingLevel = m_outgoingPeak = 0.0;
    m_audioFramesSent = 0;
    m_lastLocalAudioAt = QDateTime();
    emit countersChanged();
    emit micLevelChanged();
    emit systemLevelChanged();
    emit outgoingLevelChanged();
    emit audioFramesSentChanged();
    emit lastLocalAudioAtChanged();
}

void OutgoingAudioPipeline::resetMicrophoneStats()
{
    m_micFramesSeen = m_micFramesWithSignal = 0;
    m_micLevel = m_micPeak = 0.0;
    emit countersChanged();
    emit micLevelChanged();
}

void OutgoingAudioPipeline::applyServerAudioStats(std::optional<int> audioFrameCount,
                                                  std::optional<double> avgLevel,
                                                  std::optional<double> peakLevel)
{
    if (audioFrameCount && *audioFrameCount > m_audioFramesSent) {
        m_audioFramesSent = *audioFrameCount;
        emit audioFramesSentChanged();
    }
    if (avgLevel || peakLevel) {
        if (avgLevel)
            m_outgoingLevel = *avgLevel;
        if (peakLevel)
            m_outgoingPeak = std::max(m_outgoingPeak, *peakLevel);
        emit outgoingLevelChanged();
    }
}

void OutgoingAudioPipeline::sendKeepAlive()
{
    static const QByteArray silence(pcm::kChunkBytes, '\0');
    if (m_paused) {
        deliver(silence);
        m_lastLocalAudioAt = m_clock->now();
        emit lastLocalAudioAtChanged();
        return;
    }
    // Before the first captured chunk there is nothing to bridge; the bridge itself does not
    // count as captured audio, so it repeats until capture delivers again.
    if (m_lastLocalAudioAt.isValid() &&
        m_lastLocalAudioAt.msecsTo(m_clock->now()) > kQuietBeforeSilenceMs)
        deliver(silence);
}

bool OutgoingAudioPipeline::accepts(Source source) const
{
    if (!m_active)
        return false;
    switch (m_mode) {
    case AudioInputMode::Microphone:
        return source == Source::Mic;
    case AudioInputMode::SystemAudio:
        return source == Source::System;
    case AudioInputMode::MicrophoneAndSystem:
        return true;
    }
    return false;
}

void OutgoingAudioPipeline::pushMicrophoneChunk(const QByteArray &chunk)
{
    if (!accepts(Source::Mic))
        return;
    measure(Source::Mic, chunk);
    if (m_mode != AudioInputMode::MicrophoneAndSystem) {
        sendOut(chunk);
        return;
    }
    m_queues.mic.push_back(chunk);
    trimBacklog();
    drain();
}

void OutgoingAudioPipeline::pushSystemChunk(const QByteArray &chunk)
{
    if (!accepts(Source::System))
        return;
    measure(Source::System, chunk);
    if (m_mode != AudioInputMode::MicrophoneAndSystem) {
        sendOut(chunk);
        return;
    }
    m_queues.system.push_back(chunk);
    trimBacklog();
    drain();
}

void OutgoingAudioPipeline::noteSystemRawSample()
{
    if (!accepts(Source::System))
        return;
    ++m_systemRawSamplesSeen;
    emit countersChanged();
}

void OutgoingAudioPipeline::measure(Source source, const QByteArray &chunk)
{
    const double level = estimatePCM16Level(chunk);
    if (source == Source::Mic) {
        ++m_micFramesSeen;
        if (!isDigitalSilence(chunk))
            ++m_micFramesWithSignal;
        m_micLevel = level;
        m_micPeak = std::max(m_micPeak, level);
        emit countersChanged();
        emit micLevelChanged();
    } else {
        ++m_systemFramesSeen;
        m_systemLevel = level;
        m_systemPeak = std::max(m_systemPeak, level);
        emit countersChanged();
        emit systemLevelChanged();
    }
}

void OutgoingAudioPipeline::trimBacklog()
{
    const BacklogTrim trim = trimMixedBacklog(m_queues);
    if (!trim.trimmedAnything())
        return;
    m_lagDropMic += trim.micDropped;
    m_lagDropSystem += trim.systemDropped;
    for (const QString &line : trim.logLines())
        AppLog::write(line);
    emit countersChanged();
}

void OutgoingAudioPipeline::drain()
{
    // The sink may end the activation (a failed stream stops the recording); stop then.
    while (m_active) {
        std::optional<QByteArray> chunk = takeNextOutgoingChunk(m_queues, m_mixSettings);
        if (!chunk)
            return;
        sendOut(*chunk);
    }
}

void OutgoingAudioPipeline::deliver(const QByteArray &bytes)
{
    // Held for the call: the sink may deactivate this pipeline and so release its own slot.
    const std::shared_ptr<ChunkSink> sink = m_sink;
    if (sink && *sink)
        (*sink)(bytes);
}

void OutgoingAudioPipeline::sendOut(const QByteArray &chunk)
{
    if (!m_sink || !*m_sink)
        return;
    deliver(m_paused ? QByteArray(chunk.size(), '\0') : chunk);

    const double level = m_paused ? 0.0 : estimatePCM16Level(chunk);
    m_lastLocalAudioAt = m_clock->now();
    ++m_audioFramesSent;
    m_outgoingLevel = level;
    m_outgoingPeak = std::max(m_outgoingPeak, level);
    emit lastLocalAudioAtChanged();
    emit audioFramesSentChanged();
    emit outgoingLevelChanged();
    if (const auto hint = listeningHint(m_paused, m_audioFramesSent, level))
        emit listeningHintDue(*hint);
}

} // namespace vernalo
