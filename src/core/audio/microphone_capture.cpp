#include "audio/microphone_capture.h"

#include "foundation/app_log.h"

#include <QDebug>

namespace vernalo {

namespace {

// Frames the server hands over at a time, about 43 ms at 48 kHz.
constexpr int kFragmentFrames = 2048;

QString reachability(const AudioServerStatus &status)
{
    return status.reachable ? QStringLiteral("reachable") : QStringLiteral("unreachable");
}

} // namespace

void MicrophoneCapture::StreamDeleter::operator()(AudioCaptureStream *stream) const
{
    // The stream may be the sender of the signal being handled right now.
    stream->close();
    stream->deleteLater();
}

MicrophoneCapture::MicrophoneCapture(AudioSystem *audioSystem, QObject *parent)
    : QObject(parent)
    , m_audioSystem(audioSystem)
{ }

MicrophoneCapture::~MicrophoneCapture()
{
    releaseStream();
}

void MicrophoneCapture::setPreferredInputDeviceID(std::optional<quint32> id)
{
    m_preferredInputDeviceID = (id && *id != 0) ? id : std::nullopt;
}

void MicrophoneCapture::start()
{
    releaseStream();
    m_chunker.clear();
    m_activeInputDeviceName.clear();
    m_activeInputDeviceID = 0;

    const InputDeviceInventory inventory = inputDeviceInventory();
    const auto picked =
        pickPreferredInputDevice(inventory.devices, m_preferredInputDeviceID, inventory.defaultId);
    if (!picked) {
        // Nothing to open: a missing microphone is a device error, not a refusal.
        m_activeInputDeviceName = QStringLiteral("Oletuslaite");
        throw MicrophoneCaptureError(MicrophoneCaptureError::Kind::EngineNotReady);
    }
    qInfo().noquote() << QStringLiteral("MicrophoneCapture input device: %1 (%2)")
                             .arg(picked->name)
                             .arg(picked->id);
    m_activeInputDeviceName = picked->name;
    if (openStream(*picked))
        return;

    // The chosen device would not open: carry on with the system default input.
    if (inventory.defaultId && *inventory.defaultId != picked->id) {
        for (const InputDeviceInfo &device : inventory.devices) {
            if (device.id == *inventory.defaultId && openStream(device)) {
                m_activeInputDeviceName = device.name;
                return;
            }
        }
    }
    throw MicrophoneCaptureError(MicrophoneCaptureError::Kind::EngineNotReady);
}

bool MicrophoneCapture::openStream(const InputDeviceInfo &device)
{
    CaptureOpenResult opened =
        m_audioSystem->openCapture(CaptureTarget::source(device.id, kFragmentFrames));
    if (!opened.stream) {
        qInfo().noquote() << QStringLiteral("MicrophoneCapture: opening %1 failed: %2")
                                 .arg(device.name, opened.error.details());
        AppLog::write(QStringLiteral("microphone open failed device=%1 error=%2")
                          .arg(device.name, opened.error.details()));
        return false;
    }
    m_stream.reset(opened.stream.release());
    m_activeInputDeviceID = device.id;
    connect(m_stream.get(), &AudioCaptureStream::framesArrived, this,
            &MicrophoneCapture::handleFrames);
    connect(m_stream.get(), &AudioCaptureStream::ended, this, &MicrophoneCapture::handleEnded);
    return true;
}

void MicrophoneCapture::stop()
{
    releaseStream();
    m_chunker.clear();
    m_activeInputDeviceName.clear();
    m_activeInputDeviceID = 0;
}

void MicrophoneCapture::releaseStream()
{
    if (!m_stream)
        return;
    disconnect(m_stream.get(), nullptr, this, nullptr);
    m_stream.reset();
}

void MicrophoneCapture::handleFrames(const RawAudioFrames &frames)
{
    const QByteArray pcm = convertToPCM16(frames);
    if (pcm.isEmpty())
        return; // unsupported or empty buffers are dropped
    m_chunker.append(pcm);
    // A receiver may stop or restart the capture; that empties the chunker and ends the loop.
    while (auto chunk = m_chunker.takeFullChunk())
        emit chunkReady(*chunk);
}

void MicrophoneCapture::handleEnded(const AudioServerError &error)
{
    AppLog::write(QStringLiteral("microphone capture stopped device=%1 error=%2")
                      .arg(m_activeInputDeviceName, error.details()));
    releaseStream();
    m_chunker.clear();
    emit captureEnded(error);
}

InputDeviceInventory MicrophoneCapture::inputDeviceInventory() const
{
    // An unreachable server simply has no devices.
    return vernalo::inputDeviceInventory(m_audioSystem->listSources());
}

QList<AudioInputDeviceOption> MicrophoneCapture::listAvailableInputDevices() const
{
    QList<AudioInputDeviceOption> options;
    for (const InputDeviceInfo &device : inputDeviceInventory().devices)
        options.append(device.option());
    return options;
}

MicrophonePermissionSnapshot MicrophoneCapture::permissionSnapshot() const
{
    return microphonePermissionSnapshot(microphonePermissionFacts(m_audioSystem->serverStatus()));
}

QCoro::Task<bool> MicrophoneCapture::requestPermission()
{
    const AudioServerStatus before = m_audioSystem->serverStatus();
    const MicrophonePermissionFacts facts = microphonePermissionFacts(before);
    AppLog::write(
        QStringLiteral("microphone permission pulse=%1 bundleId=%2 hasUsageDesc=%3")
            .arg(reachability(before), facts.bundleId,
                 facts.hasUsageDescription ? QStringLiteral("true") : QStringLiteral("false")));
    if (!facts.hasUsageDescription) {
        AppLog::write(
            QStringLiteral("microphone permission prompt skipped: usage description missing"));
        co_return false;
    }
    if (isMicrophoneGranted(facts))
        co_return true;

    // There is no consent prompt here: asking again means asking the server again, which
    // helps when it was still starting.
    const AudioServerStatus after = m_audioSystem->serverStatus();
    const MicrophonePermissionFacts recheck = microphonePermissionFacts(after);
    AppLog::write(QStringLiteral("microphone permission recheck granted=%1")
                      .arg(after.reachable ? QStringLiteral("true") : QStringLiteral("false")));
    AppLog::write(
        QStringLiteral("microphone permission post-request pulse=%1").arg(reachability(after)));
    if (isMicrophoneGranted(recheck))
        co_return true;
    if (!isMicrophoneEffectivelyDenied(recheck)) {
        AppLog::write(QStringLiteral(
            "microphone permission inconclusive after request; proceeding to capture probe"));
        co_return true;
    }
    co_return false;
}

} // namespace vernalo
