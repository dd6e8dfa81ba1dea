#include "audio/system_audio_capture.h"

#include "audio/capture_source_lists.h"
#include "audio/running_processes.h"
#include "foundation/app_log.h"

#include <algorithm>
#include <chrono>
#include <QCoreApplication>
#include <QPointer>

namespace vernalo {

using namespace std::chrono_literals;

namespace {

// About 43 ms at 48 kHz: few wake-ups, and well inside the 0.18 s a short chunk may wait.
constexpr int kFragmentFrames = 2048;
constexpr int kPermissionRetries = 3;
constexpr auto kPermissionRetryDelay = 350ms;

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

qint64 ownProcessId()
{
    return QCoreApplication::instance() ? QCoreApplication::applicationPid() : 0;
}

} // namespace

void SystemAudioCapture::StreamDeleter::operator()(AudioCaptureStream *stream) const
{
    stream->close();
    stream->deleteLater();
}

SystemAudioCapture::SystemAudioCapture(AudioSystem *audioSystem, Clock *clock, QObject *parent)
    : QObject(parent)
    , m_audioSystem(audioSystem)
    , m_clock(clock)
    , m_isProcessRunning([](const QString &binary) { return isProcessRunning(binary); })
{ }

SystemAudioCapture::~SystemAudioCapture()
{
    releaseStream();
}

void SystemAudioCapture::setPreferredDisplayID(std::optional<quint32> id)
{
    m_preferredDisplayID = (id && *id != 0) ? id : std::nullopt;
}

void SystemAudioCapture::setPreferredApplicationBundleID(const QString &id)
{
    m_preferredApplicationBundleID = id.trimmed();
}

void SystemAudioCapture::setProcessProbe(std::function<bool(const QString &)> probe)
{
    m_isProcessRunning = std::move(probe);
}

QList<SystemAudioApplicationOption>
SystemAudioCapture::applicationsRunning(const QList<AudioPlaybackInfo> &playbacks,
                                        const QString &kept) const
{
    QList<SystemAudioApplicationOption> applications =
        groupApplicationSources(playbacks, ownProcessId(), ownApplicationId());
    const bool listed = std::any_of(
        applications.cbegin(), applications.cend(),
        [&kept](const SystemAudioApplicationOption &a) { return a.bundleIdentifier == kept; });
    // A meeting application started but not yet connected to the sound server stays the
    // choice: it is running, only silent until its first call.
    if (!kept.isEmpty() && !listed && kept != ownApplicationId() && m_isProcessRunning(kept))
        applications.append({kept, kept, kept});
    return applications;
}

void SystemAudioCapture::start()
{
    stop();

    const AudioPlaybackList playbacks = m_audioSystem->listPlaybacks();
    if (playbacks.error) {
        AppLog::write(QStringLiteral("SystemAudioCapture shareableContent error %1")
                          .arg(playbacks.error->details()));
        throw SystemAudioCaptureError(SystemAudioCaptureError::Kind::PermissionDenied);
    }
    const QList<AudioDisplayInfo> displays = m_audioSystem->listDisplays();
    if (displays.isEmpty())
        throw SystemAudioCaptureError(SystemAudioCaptureError::Kind::NoDisplay);
    AudioDisplayInfo display = displays.first();
    for (const AudioDisplayInfo &candidate : displays) {
        if (m_preferredDisplayID && candidate.id == *m_preferredDisplayID)
            display = candidate;
    }

    // One application while it is running (playing, or known to the server before it plays);
    // otherwise every application on every output.
    CaptureTarget target = CaptureTarget::allApplications(kFragmentFrames);
    QString label = QStringLiteral("Kaikki sovellukset");
    int includedApplications = 0;
    if (!m_preferredApplicationBundleID.isEmpty()) {
        const auto applications =
            applicationsRunning(playbacks.playbacks, m_preferredApplicationBundleID);
        for (const SystemAudioApplicationOption &application : applications) {
            if (application.bundleIdentifier == m_preferredApplicationBundleID) {
                target = CaptureTarget::application(application.bundleIdentifier, kFragmentFrames);
                label = application.name;
                includedApplications = 1;
            }
        }
    }

    CaptureOpenResult opened = m_audioSystem->openCapture(target);
    if (!opened.stream) {
        AppLog::write(
            QStringLiteral("SystemAudioCapture startCapture error %1").arg(opened.error.details()));
        throw SystemAudioCaptureError(SystemAudioCaptureError::Kind::StreamSetupFailed);
    }
    ++m_generation;
    m_stream.reset(opened.stream.release());
    connect(m_stream.get(), &AudioCaptureStream::framesArrived, this,
            &SystemAudioCapture::handleFrames);
    connect(m_stream.get(), &AudioCaptureStream::ended, this, &SystemAudioCapture::handleEnded);

    m_rawSampleCount = 0;
    m_pcmFrameCount = 0;
    m_emittedChunkCount = 0;
    m_lastChunkEmitAtMs.reset(); // the first 640 bytes go out at once
    m_activeSourceName = QStringLiteral("Näyttö %1 • %2").arg(display.id).arg(label);
    AppLog::write(QStringLiteral("SystemAudioCapture started display=%1 apps=%2 selectedApp=%3")
                      .arg(display.id)
                      .arg(includedApplications)
                      .arg(label));
}

void SystemAudioCapture::stop()
{
    ++m_generation;
    m_chunker.clear();
    m_activeSourceName.clear();
    m_rawSampleCount = 0;
    m_pcmFrameCount = 0;
    m_emittedChunkCount = 0;
    m_lastChunkEmitAtMs.reset();
    m_hasLoggedUnsupportedFormat = false;
    if (m_stream) {
        releaseStream();
        AppLog::write(QStringLiteral("SystemAudioCapture stopped"));
    }
}

void SystemAudioCapture::releaseStream()
{
    if (!m_stream)
        return;
    disconnect(m_stream.get(), nullptr, this, nullptr);
    m_stream.reset();
}

void SystemAudioCapture::handleFrames(const RawAudioFrames &frames)
{
    const quint64 generation = m_generation;
    ++m_rawSampleCount;
    if (m_rawSampleCount == 1)
        AppLog::write(QStringLiteral("SystemAudioCapture received first raw audio sample"));
    emit rawSampleArrived();
    if (generation != m_generation || !m_stream)
        return; // a receiver stopped or restarted the capture

    if (frames.format == SampleFormat::Unsupported) {
        if (!m_hasLoggedUnsupportedFormat) {
            m_hasLoggedUnsupportedFormat = true;
            AppLog::write(QStringLiteral("SystemAudioCapture unsupported format bits=%1 flags=%2")
                              .arg(m_stream->bitsPerSample())
                              .arg(m_stream->formatName()));
        }
        return;
    }
    const QByteArray pcm = convertToPCM16(frames);
    if (pcm.isEmpty())
        return;
    ++m_pcmFrameCount;
    if (m_pcmFrameCount == 1)
        AppLog::write(QStringLiteral("SystemAudioCapture produced first PCM frame"));
    m_chunker.append(pcm);
    flushChunksIfNeeded(generation);
}

void SystemAudioCapture::flushChunksIfNeeded(quint64 generation)
{
    while (auto chunk = m_chunker.takeFullChunk()) {
        emitPCMChunk(*chunk);
        if (generation != m_generation)
            return;
    }
    const bool latencyPassed = !m_lastChunkEmitAtMs ||
        m_clock->monotonicMs() - *m_lastChunkEmitAtMs >= pcm::kMaxChunkLatencyMs;
    if (!latencyPassed)
        return;
    if (auto remainder = m_chunker.takeRemainder(pcm::kMinChunkBytes))
        emitPCMChunk(*remainder);
}

void SystemAudioCapture::emitPCMChunk(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return;
    ++m_emittedChunkCount;
    m_lastChunkEmitAtMs = m_clock->monotonicMs();
    if (m_emittedChunkCount == 1)
        AppLog::write(
            QStringLiteral("SystemAudioCapture emitted first chunk bytes=%1").arg(chunk.size()));
    emit chunkReady(chunk);
}

void SystemAudioCapture::handleEnded(const AudioServerError &error)
{
    AppLog::write(
        QStringLiteral("SystemAudioCapture stream stopped error=%1").arg(error.details()));
    // Counters stay for the diagnostics; the controller decides how to recover.
    ++m_generation;
    releaseStream();
    m_chunker.clear();
    emit captureEnded(error);
}

QList<SystemAudioDisplayOption> SystemAudioCapture::listDisplaySources() const
{
    QList<SystemAudioDisplayOption> options;
    for (const AudioDisplayInfo &display : m_audioSystem->listDisplays())
        options.append(displayOption(display));
    return options;
}

QList<SystemAudioApplicationOption>
SystemAudioCapture::listApplicationSources(const QString &kept) const
{
    const AudioPlaybackList playbacks = m_audioSystem->listPlaybacks();
    if (playbacks.error) {
        AppLog::write(QStringLiteral("SystemAudioCapture shareableContent error %1")
                          .arg(playbacks.error->details()));
        throw SystemAudioCaptureError(SystemAudioCaptureError::Kind::PermissionDenied);
    }
    return applicationsRunning(playbacks.playbacks, kept.trimmed());
}

bool SystemAudioCapture::hasPermission() const
{
    return m_audioSystem->serverStatus().reachable;
}

bool SystemAudioCapture::permissionProbe()
{
    const AudioServerStatus status = m_audioSystem->serverStatus();
    if (!status.reachable) {
        AppLog::write(QStringLiteral("systemAudio permissionProbe error %1")
                          .arg(status.error.value_or(AudioServerError {}).details()));
        return false;
    }
    const auto displays = m_audioSystem->listDisplays().size();
    AppLog::write(QStringLiteral("systemAudio permissionProbe displays=%1").arg(displays));
    return displays > 0;
}

SystemAudioPermissionSnapshot
SystemAudioCapture::permissionSnapshot(std::optional<bool> preflightResult,
                                       std::optional<bool> probeResult) const
{
    SystemAudioPermissionFacts facts;
    facts.preflight = preflightResult ? *preflightResult : hasPermission();
    facts.probe = probeResult;
    facts.bundleId = captureBundleId();
    facts.bundlePath = captureBundlePath();
    facts.hasRequestedPermissionThisRun = m_hasRequestedPermissionThisRun;
    return systemAudioPermissionSnapshot(facts);
}

SystemAudioPermissionSnapshot SystemAudioCapture::currentPermissionSnapshot()
{
    const bool preflight = hasPermission();
    const bool probe = permissionProbe();
    return permissionSnapshot(preflight, probe);
}

QCoro::Task<bool> SystemAudioCapture::requestPermission()
{
    if (permissionProbe()) {
        AppLog::write(QStringLiteral("systemAudio requestPermission probe already granted"));
        co_return true;
    }
    if (m_hasRequestedPermissionThisRun) {
        const bool result = permissionProbe();
        AppLog::write(
            QStringLiteral("systemAudio requestPermission skippedPrompt sameRun result=%1")
                .arg(boolText(result)));
        co_return result;
    }
    m_hasRequestedPermissionThisRun = true;
    // No consent prompt on this desktop: the request is a fresh look at the server, then a
    // few short retries for a server that is still starting.
    const bool reachable = m_audioSystem->serverStatus().reachable;
    AppLog::write(
        QStringLiteral("systemAudio requestPermission pulse=%1")
            .arg(reachable ? QStringLiteral("reachable") : QStringLiteral("unreachable")));
    if (reachable && permissionProbe())
        co_return true;

    QPointer<SystemAudioCapture> self(this);
    Clock *clock = m_clock;
    for (int attempt = 0; attempt < kPermissionRetries; ++attempt) {
        co_await clock->sleep(kPermissionRetryDelay);
        if (!self)
            co_return false;
        if (self->permissionProbe()) {
            AppLog::write(QStringLiteral("systemAudio requestPermission grantedAfterRetry=true"));
            co_return true;
        }
    }
    AppLog::write(QStringLiteral("systemAudio requestPermission finalResult=false"));
    co_return false;
}

} // namespace vernalo
