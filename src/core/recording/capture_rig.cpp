#include "recording/capture_rig.h"

#include "audio/microphone_capture.h"
#include "audio/pcm_format.h"
#include "audio/system_audio_capture.h"

namespace vernalo {

namespace {

std::optional<quint32> preferenceOf(quint32 id)
{
    return id == 0 ? std::nullopt : std::optional(id);
}

} // namespace

CaptureRig::CaptureRig(MicrophoneCapture *microphone, SystemAudioCapture *systemAudio, Clock *clock,
                       QObject *parent)
    : QObject(parent)
    , m_microphone(microphone)
    , m_systemAudio(systemAudio)
    , m_pipeline(new OutgoingAudioPipeline(clock, this))
{
    connect(m_microphone, &MicrophoneCapture::chunkReady, this, &CaptureRig::routeMicrophoneChunk);
    connect(m_systemAudio, &SystemAudioCapture::chunkReady, this, &CaptureRig::routeSystemChunk);
    connect(m_systemAudio, &SystemAudioCapture::rawSampleArrived, this, [this] {
        if (m_use == Use::Recording)
            m_pipeline->noteSystemRawSample();
    });
    connect(m_microphone, &MicrophoneCapture::captureEnded, this,
            [this](const AudioServerError &error) {
                if (m_use != Use::Idle)
                    emit captureEnded(CaptureSource::Microphone, error);
            });
    connect(m_systemAudio, &SystemAudioCapture::captureEnded, this,
            [this](const AudioServerError &error) {
                if (m_use != Use::Idle)
                    emit captureEnded(CaptureSource::SystemAudio, error);
            });
}

CaptureRig::~CaptureRig()
{
    // The capture objects outlive the rig: nothing of a recording may keep running.
    if (m_use != Use::Idle)
        stop();
}

void CaptureRig::start(AudioInputMode mode, const CaptureSelection &selection,
                       OutgoingAudioPipeline::ChunkSink sink)
{
    m_use = Use::Recording;
    m_pipeline->activate(mode, std::move(sink));
    openSources(mode, selection);
    if (mode != AudioInputMode::SystemAudio)
        emit microphoneStarted(mode);
}

void CaptureRig::restartMicrophone(quint32 deviceID, AudioInputMode mode)
{
    m_microphone->stop();
    m_microphone->setPreferredInputDeviceID(preferenceOf(deviceID));
    m_microphone->start();
    if (m_pipeline->mode() != mode)
        m_pipeline->setMode(mode);
    emit microphoneStarted(mode);
}

void CaptureRig::restartSystemAudio()
{
    m_systemAudio->stop();
    m_systemAudio->start();
}

bool CaptureRig::isMicrophoneRunning() const
{
    return m_microphone->isRunning();
}

bool CaptureRig::isSystemAudioRunning() const
{
    return m_systemAudio->isCapturing();
}

void CaptureRig::stop()
{
    m_use = Use::Idle;
    closeSources();
    m_pipeline->deactivate();
}

void CaptureRig::startTest(AudioInputMode mode, const CaptureSelection &selection)
{
    m_use = Use::Test;
    m_tally = AudioTestTally {};
    openSources(mode, selection);
}

AudioTestTally CaptureRig::stopTest()
{
    m_use = Use::Idle;
    closeSources();
    return m_tally;
}

void CaptureRig::openSources(AudioInputMode mode, const CaptureSelection &selection)
{
    if (mode != AudioInputMode::SystemAudio) {
        m_microphone->setPreferredInputDeviceID(preferenceOf(selection.microphoneID));
        m_microphone->start();
    }
    if (mode != AudioInputMode::Microphone) {
        m_systemAudio->setPreferredDisplayID(preferenceOf(selection.displayID));
        m_systemAudio->setPreferredApplicationBundleID(selection.applicationBundleID);
        m_systemAudio->start();
    }
}

void CaptureRig::closeSources()
{
    m_microphone->stop();
    m_systemAudio->stop();
}

void CaptureRig::routeMicrophoneChunk(const QByteArray &chunk)
{
    if (m_use == Use::Recording)
        m_pipeline->pushMicrophoneChunk(chunk);
    else if (m_use == Use::Test)
        m_tally.add(true, estimatePCM16Level(chunk));
}

void CaptureRig::routeSystemChunk(const QByteArray &chunk)
{
    if (m_use == Use::Recording)
        m_pipeline->pushSystemChunk(chunk);
    else if (m_use == Use::Test)
        m_tally.add(false, estimatePCM16Level(chunk));
}

} // namespace vernalo
