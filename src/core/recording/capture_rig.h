#pragma once

#include "audio/outgoing_audio_pipeline.h"
#include "foundation/models.h"
#include "recording/audio_test_verdict.h"

#include <QObject>
#include <QString>

namespace vernalo {

class Clock;
class MicrophoneCapture;
class SystemAudioCapture;
struct AudioServerError;

// Which devices a capture opens; 0 and empty mean no preference.
struct CaptureSelection
{
    quint32 microphoneID = 0;
    quint32 displayID = 0;
    QString applicationBundleID;
};

enum class CaptureSource { Microphone, SystemAudio };

// The wiring of the two capture sources: during a recording their chunks go through the
// outgoing pipeline into the stream; during the audio test they are only tallied. The capture
// objects are connected once, here, and outlive the rig.
class CaptureRig : public QObject
{
    Q_OBJECT
public:
    CaptureRig(MicrophoneCapture *microphone, SystemAudioCapture *systemAudio, Clock *clock,
               QObject *parent = nullptr);
    ~CaptureRig() override;

    OutgoingAudioPipeline *pipeline() const { return m_pipeline; }

    // Opens the mode's sources, the microphone first, and routes their chunks through the
    // pipeline into `sink`. Throws MicrophoneCaptureError or SystemAudioCaptureError; whatever
    // opened stays open until stop().
    void start(AudioInputMode mode, const CaptureSelection &selection,
               OutgoingAudioPipeline::ChunkSink sink);
    // (Re)starts the microphone of the running recording on `deviceID`; once it runs the pipeline
    // records `mode` (a microphone added to system audio makes it mixed). Throws
    // MicrophoneCaptureError.
    void restartMicrophone(quint32 deviceID, AudioInputMode mode);
    // Reopens the system audio of the running recording with its display and application.
    // Throws SystemAudioCaptureError.
    void restartSystemAudio();
    bool isMicrophoneRunning() const;
    bool isSystemAudioRunning() const;
    // Closes both sources and empties the pipeline's queues.
    void stop();

    // The audio test: the mode's sources open and count what arrives; nothing is sent. Throws as
    // start(); stopTest() closes the sources either way.
    void startTest(AudioInputMode mode, const CaptureSelection &selection);
    AudioTestTally stopTest();

Q_SIGNALS:
    // The microphone of a recording opened: at the start and after every restart.
    void microphoneStarted(vernalo::AudioInputMode mode);
    // A source of a recording or test ended by itself (device unplugged, sound server gone).
    void captureEnded(vernalo::CaptureSource source, const vernalo::AudioServerError &error);

private:
    enum class Use { Idle, Recording, Test };

    void openSources(AudioInputMode mode, const CaptureSelection &selection);
    void closeSources();
    void routeMicrophoneChunk(const QByteArray &chunk);
    void routeSystemChunk(const QByteArray &chunk);

    MicrophoneCapture *m_microphone;
    SystemAudioCapture *m_systemAudio;
    OutgoingAudioPipeline *m_pipeline;
    Use m_use = Use::Idle;
    AudioTestTally m_tally;
};

} // namespace vernalo
