#include "support/fake_audio_system.h"

#include <algorithm>

namespace vernalo::test {

AudioServerStatus FakeAudioSystem::serverStatus()
{
    AudioServerStatus status;
    status.reachable = reachable;
    if (reachable)
        status.serverName = QStringLiteral("fake 1.0");
    else
        status.error = unreachableError;
    return status;
}

AudioSourceList FakeAudioSystem::listSources()
{
    AudioSourceList list;
    if (!reachable) {
        list.error = unreachableError;
        return list;
    }
    list.sources = sources;
    list.defaultSourceId = defaultSourceId;
    return list;
}

AudioPlaybackList FakeAudioSystem::listPlaybacks()
{
    AudioPlaybackList list;
    if (!reachable)
        list.error = unreachableError;
    else
        list.playbacks = playbacks;
    return list;
}

CaptureOpenResult FakeAudioSystem::openCapture(const CaptureTarget &target)
{
    openRequests.append(target);
    CaptureOpenResult result;
    if (!reachable) {
        result.error = unreachableError;
        return result;
    }
    std::optional<AudioServerError> failure;
    switch (target.kind) {
    case CaptureTarget::Kind::Source: {
        const bool known =
            std::any_of(sources.begin(), sources.end(),
                        [&](const AudioSourceInfo &s) { return s.id == target.sourceId; });
        if (!known)
            failure =
                AudioServerError {QStringLiteral("pulse"), 5, QStringLiteral("No such entity")};
        else if (failingSources.contains(target.sourceId))
            failure = failingSources.value(target.sourceId);
        break;
    }
    case CaptureTarget::Kind::AllApplications:
        failure = monitorFailure;
        break;
    case CaptureTarget::Kind::Application:
        break;
    }
    if (failure) {
        result.error = *failure;
        return result;
    }
    auto stream =
        std::make_unique<FakeCaptureStream>(target, streamFormatName, streamBitsPerSample);
    streams.append(stream.get());
    result.stream = std::move(stream);
    return result;
}

AudioSourceInfo &FakeAudioSystem::addSource(quint32 id, const QString &description,
                                            const QString &bus, const QString &formFactor,
                                            const QString &deviceClass)
{
    AudioSourceInfo source;
    source.id = id;
    source.name = QStringLiteral("source-%1").arg(id);
    source.description = description;
    source.channels = 1;
    source.sampleRate = 48000;
    source.bus = bus;
    source.formFactor = formFactor;
    source.deviceClass = deviceClass;
    source.isMonitor = deviceClass == QLatin1String("monitor");
    sources.append(source);
    return sources.last();
}

FakeCaptureStream *FakeAudioSystem::lastStream() const
{
    return streams.isEmpty() ? nullptr : streams.last().data();
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
