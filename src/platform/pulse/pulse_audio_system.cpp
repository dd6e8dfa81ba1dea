#include "pulse/pulse_audio_system.h"

#include "audio/capture_source_lists.h"
#include "foundation/app_log.h"
#include "pulse/pulse_application_capture.h"
#include "pulse/pulse_capture_stream.h"
#include "pulse/pulse_connection.h"
#include "pulse/pulse_server_watch.h"

#include <QCoreApplication>
#include <QPointer>

namespace vernalo {

using pulse::PulseConnection;
using pulse::PulseServerWatch;

PulseAudioSystem::PulseAudioSystem(DisplayProvider displays)
    : m_displays(displays ? std::move(displays) : DisplayProvider(&qtScreenDisplays))
    , m_loop(std::make_shared<pulse::PulseLoop>())
{
    QPointer<AudioSystemEvents> events(&this->events());
    m_watch = std::make_unique<PulseServerWatch>(
        m_loop, [events](PulseServerWatch::Event event, const pulse::PulseSnapshot &snapshot) {
            const AudioServerError error = snapshot.error.value_or(AudioServerError {});
            const QString name = snapshot.serverName;
            QMetaObject::invokeMethod(
                events,
                [events, event, error, name] {
                    switch (event) {
                    case PulseServerWatch::Event::Lost:
                        AppLog::write(
                            QStringLiteral("sound server lost error=%1").arg(error.details()));
                        Q_EMIT events->serverLost(error);
                        break;
                    case PulseServerWatch::Event::Back:
                        AppLog::write(QStringLiteral("sound server back server=%1").arg(name));
                        Q_EMIT events->serverBack(name);
                        break;
                    case PulseServerWatch::Event::Changed:
                        Q_EMIT events->sourcesChanged();
                        break;
                    }
                },
                Qt::QueuedConnection);
        });
    m_watch->waitForFirstAnswer(PulseServerWatch::kDeadlineMs);
}

PulseAudioSystem::~PulseAudioSystem()
{
    m_watch.reset();
}

AudioServerStatus PulseAudioSystem::serverStatus()
{
    const pulse::PulseSnapshot snapshot = m_watch->snapshot();
    AudioServerStatus status;
    status.reachable = snapshot.reachable;
    status.serverName = snapshot.serverName;
    status.error = snapshot.error;
    return status;
}

AudioSourceList PulseAudioSystem::listSources()
{
    const pulse::PulseSnapshot snapshot = m_watch->snapshot();
    AudioSourceList list;
    list.error = snapshot.error;
    for (const pulse::PulseSourceEntry &entry : snapshot.sources) {
        list.sources.append(entry.info);
        if (entry.info.name == snapshot.defaultSource)
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
    // Applications that are connected but silent count too: a meeting application that has not
    // played yet must be choosable and stay chosen.
    const pulse::PulseSnapshot snapshot = m_watch->snapshot();
    AudioPlaybackList list;
    list.error = snapshot.error;
    list.playbacks = snapshot.playbacks + snapshot.clients;
    return list;
}

CaptureOpenResult PulseAudioSystem::openCapture(const CaptureTarget &target)
{
    const std::shared_ptr<PulseConnection> connection = m_watch->connection();
    if (!connection) {
        CaptureOpenResult result;
        result.error = m_watch->snapshot().error.value_or(
            PulseConnection::errorFromCode(PA_ERR_CONNECTIONREFUSED));
        return result;
    }
    const qint64 ownPid = QCoreApplication::instance() ? QCoreApplication::applicationPid() : 0;
    switch (target.kind) {
    case CaptureTarget::Kind::Source: {
        pulse::PulseCaptureStream::Options options;
        for (const pulse::PulseSourceEntry &entry : m_watch->snapshot().sources) {
            if (entry.info.id == target.sourceId) {
                options.device = entry.info.name.toUtf8();
                options.sourceSpec = entry.sampleSpec;
                options.channelMap = entry.channelMap;
            }
        }
        if (options.device.isEmpty()) {
            CaptureOpenResult result;
            result.error = PulseConnection::errorFromCode(PA_ERR_NOENTITY);
            return result;
        }
        options.fragmentFrames = target.fragmentFrames;
        // A vanished microphone must end the capture, not move it to some other source.
        options.dontMove = true;
        options.streamName = "Vernalo microphone";
        return pulse::PulseCaptureStream::open(connection, options);
    }
    case CaptureTarget::Kind::AllApplications:
        return pulse::PulseApplicationCapture::open(connection, QString(), ownPid,
                                                    ownApplicationId(), target.fragmentFrames);
    case CaptureTarget::Kind::Application:
        return pulse::PulseApplicationCapture::open(connection, target.applicationId, ownPid,
                                                    ownApplicationId(), target.fragmentFrames);
    }
    return {};
}

} // namespace vernalo
