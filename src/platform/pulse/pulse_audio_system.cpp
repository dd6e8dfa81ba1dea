#include "pulse/pulse_audio_system.h"

#include "pulse/pulse_application_capture.h"
#include "pulse/pulse_capture_stream.h"
#include "pulse/pulse_connection.h"
#include "pulse/stable_source_id.h"

#include <QCoreApplication>

namespace vernalo {

using pulse::PulseConnection;

namespace {

QString property(pa_proplist *properties, const char *key)
{
    const char *value = properties ? pa_proplist_gets(properties, key) : nullptr;
    return value ? QString::fromUtf8(value) : QString();
}

struct ServerInfo
{
    QString name;
    QString defaultSource;
};

// With the lock held.
std::optional<ServerInfo> queryServerInfo(PulseConnection &connection)
{
    struct Query
    {
        PulseConnection *connection;
        ServerInfo info;
    } query {&connection, {}};
    const bool done = connection.waitFor(pa_context_get_server_info(
        connection.context(),
        [](pa_context *, const pa_server_info *info, void *userdata) {
            auto *q = static_cast<Query *>(userdata);
            if (info) {
                q->info.name = QStringLiteral("%1 %2").arg(QString::fromUtf8(info->server_name),
                                                           QString::fromUtf8(info->server_version));
                q->info.defaultSource = QString::fromUtf8(info->default_source_name);
            }
            q->connection->signal();
        },
        &query));
    if (!done)
        return std::nullopt;
    return query.info;
}

struct SourceEntry
{
    AudioSourceInfo info;
    pa_sample_spec sampleSpec {};
    pa_channel_map channelMap {};
};

// With the lock held.
std::optional<QList<SourceEntry>> querySources(PulseConnection &connection)
{
    struct Query
    {
        PulseConnection *connection;
        QList<SourceEntry> entries;
    } query {&connection, {}};
    const bool done = connection.waitFor(pa_context_get_source_info_list(
        connection.context(),
        [](pa_context *, const pa_source_info *source, int eol, void *userdata) {
            auto *q = static_cast<Query *>(userdata);
            if (eol != 0) {
                q->connection->signal();
                return;
            }
            SourceEntry entry;
            entry.info.name = QString::fromUtf8(source->name);
            entry.info.id = pulse::stableSourceId(entry.info.name);
            entry.info.description = QString::fromUtf8(source->description);
            entry.info.channels = source->sample_spec.channels;
            entry.info.sampleRate = source->sample_spec.rate;
            entry.info.bus = property(source->proplist, PA_PROP_DEVICE_BUS);
            entry.info.formFactor = property(source->proplist, PA_PROP_DEVICE_FORM_FACTOR);
            entry.info.deviceClass = property(source->proplist, PA_PROP_DEVICE_CLASS);
            entry.info.isMonitor = source->monitor_of_sink != PA_INVALID_INDEX;
            entry.sampleSpec = source->sample_spec;
            entry.channelMap = source->channel_map;
            q->entries.append(entry);
        },
        &query));
    if (!done)
        return std::nullopt;
    return query.entries;
}

} // namespace

PulseAudioSystem::PulseAudioSystem(DisplayProvider displays)
    : m_displays(displays ? std::move(displays) : DisplayProvider(&qtScreenDisplays))
{ }

PulseAudioSystem::~PulseAudioSystem() = default;

std::shared_ptr<PulseConnection> PulseAudioSystem::connection(AudioServerError *error)
{
    if (m_connection) {
        PulseConnection::Lock lock(*m_connection);
        if (m_connection->isReady())
            return m_connection;
    }
    // The old connection (if any) lives on in the streams that still use it.
    m_connection = PulseConnection::connect(error);
    return m_connection;
}

AudioServerStatus PulseAudioSystem::serverStatus()
{
    AudioServerStatus status;
    AudioServerError error;
    const auto connection = this->connection(&error);
    if (!connection) {
        status.error = error;
        return status;
    }
    PulseConnection::Lock lock(*connection);
    if (const auto info = queryServerInfo(*connection)) {
        status.reachable = true;
        status.serverName = info->name;
    } else {
        status.error = connection->lastError();
    }
    return status;
}

AudioSourceList PulseAudioSystem::listSources()
{
    AudioSourceList list;
    AudioServerError error;
    const auto connection = this->connection(&error);
    if (!connection) {
        list.error = error;
        return list;
    }
    PulseConnection::Lock lock(*connection);
    const auto info = queryServerInfo(*connection);
    const auto entries = info ? querySources(*connection) : std::nullopt;
    if (!entries) {
        list.error = connection->lastError();
        return list;
    }
    for (const SourceEntry &entry : *entries) {
        list.sources.append(entry.info);
        if (entry.info.name == info->defaultSource)
            list.defaultSourceId = entry.info.id;
    }
    return list;
}

QList<AudioDisplayInfo> PulseAudioSystem::listDisplays()
{
    return m_displays();
}

AudioPlaybackList PulseAudioSystem::listPlaybacks()
{
    AudioPlaybackList list;
    AudioServerError error;
    const auto connection = this->connection(&error);
    if (!connection) {
        list.error = error;
        return list;
    }
    PulseConnection::Lock lock(*connection);
    struct Query
    {
        PulseConnection *connection;
        QList<AudioPlaybackInfo> playbacks;
    } query {connection.get(), {}};
    const bool done = connection->waitFor(pa_context_get_sink_input_info_list(
        connection->context(),
        [](pa_context *, const pa_sink_input_info *info, int eol, void *userdata) {
            auto *q = static_cast<Query *>(userdata);
            if (eol != 0) {
                q->connection->signal();
                return;
            }
            q->playbacks.append(pulse::playbackInfoOf(*info));
        },
        &query));
    if (!done)
        list.error = connection->lastError();
    else
        list.playbacks = query.playbacks;
    return list;
}

CaptureOpenResult PulseAudioSystem::openCapture(const CaptureTarget &target)
{
    AudioServerError error;
    const auto connection = this->connection(&error);
    if (!connection) {
        CaptureOpenResult result;
        result.error = error;
        return result;
    }
    switch (target.kind) {
    case CaptureTarget::Kind::Source:
        return openSource(connection, target);
    case CaptureTarget::Kind::DefaultSinkMonitor: {
        pulse::PulseCaptureStream::Options options;
        options.device = QByteArrayLiteral("@DEFAULT_MONITOR@");
        options.sampleSpec = {PA_SAMPLE_FLOAT32LE, 48000, 2};
        options.fragmentFrames = target.fragmentFrames;
        options.streamName = "Vernalo system audio";
        return pulse::PulseCaptureStream::open(connection, options);
    }
    case CaptureTarget::Kind::Application:
        return pulse::PulseApplicationCapture::open(connection, target.applicationId,
                                                    QCoreApplication::applicationPid(),
                                                    target.fragmentFrames);
    }
    return {};
}

CaptureOpenResult PulseAudioSystem::openSource(const std::shared_ptr<PulseConnection> &connection,
                                               const CaptureTarget &target)
{
    pulse::PulseCaptureStream::Options options;
    {
        PulseConnection::Lock lock(*connection);
        const auto entries = querySources(*connection);
        if (!entries) {
            CaptureOpenResult result;
            result.error = connection->lastError();
            return result;
        }
        const SourceEntry *found = nullptr;
        for (const SourceEntry &entry : *entries) {
            if (entry.info.id == target.sourceId)
                found = &entry;
        }
        if (!found) {
            CaptureOpenResult result;
            result.error = PulseConnection::errorFromCode(PA_ERR_NOENTITY);
            return result;
        }
        options.device = found->info.name.toUtf8();
        options.sampleSpec = found->sampleSpec;
        // Keep the device's own rate and channels; only formats the core cannot read are
        // converted by the server, so no microphone goes silent for its sample format.
        if (pulse::sampleFormatOf(options.sampleSpec.format) == SampleFormat::Unsupported)
            options.sampleSpec.format = PA_SAMPLE_FLOAT32LE;
        options.channelMap = found->channelMap;
    }
    options.fragmentFrames = target.fragmentFrames;
    // A vanished microphone must end the capture, not move it to some other source.
    options.dontMove = true;
    options.streamName = "Vernalo microphone";
    return pulse::PulseCaptureStream::open(connection, options);
}

} // namespace vernalo
