#include "support/fake_audio_system.h"

#include <algorithm>

namespace vernalo::test {

AudioServerStatus FakeAudioSystem::serverStatus()
{
    if (!reachable)
        return {false, {}, unreachableError};
    return {true, QStringLiteral("fake 1.0"), {}};
}

AudioSourceList FakeAudioSystem::listSources()
{
    if (!reachable)
        return {{}, {}, unreachableError};
    return {sources, defaultSourceId, {}};
}

AudioPlaybackList FakeAudioSystem::listPlaybacks()
{
    if (!reachable)
        return {{}, unreachableError};
    return {playbacks, {}};
}

CaptureOpenResult FakeAudioSystem::openCapture(const CaptureTarget &target)
{
    openRequests.append(target);
    const bool source = target.kind == CaptureTarget::Kind::Source;
    const bool known = std::any_of(sources.begin(), sources.end(), [&](const AudioSourceInfo &s) {
        return s.id == target.sourceId;
    });
    std::optional<AudioServerError> failure;
    if (!reachable)
        failure = unreachableError;
    else if (source && !known)
        failure = AudioServerError {QStringLiteral("pulse"), 5, QStringLiteral("No such entity")};
    else if (source && failingSources.contains(target.sourceId))
        failure = failingSources.value(target.sourceId);
    else if (target.kind == CaptureTarget::Kind::AllApplications)
        failure = monitorFailure;
    CaptureOpenResult result;
    if (failure) {
        result.error = *failure;
    } else {
        result.stream =
            std::make_unique<FakeCaptureStream>(target, streamFormatName, streamBitsPerSample);
        streams.append(static_cast<FakeCaptureStream *>(result.stream.get()));
    }
    return result;
}

AudioSourceInfo &FakeAudioSystem::addSource(quint32 id, const QString &description,
                                            const QString &bus, const QString &formFactor,
                                            const QString &deviceClass)
{
    sources.append({.id = id,
                    .name = QStringLiteral("source-%1").arg(id),
                    .description = description,
                    .channels = 1,
                    .sampleRate = 48000,
                    .bus = bus,
                    .formFactor = formFactor,
                    .deviceClass = deviceClass,
                    .isMonitor = deviceClass == QLatin1String("monitor")});
    return sources.last();
}

QList<FakeCaptureStream *> FakeAudioSystem::openStreams() const
{
    QList<FakeCaptureStream *> open;
    for (const auto &stream : streams) {
        if (stream && !stream->isClosed())
            open.append(stream.data());
    }
    return open;
}

} // namespace vernalo::test
