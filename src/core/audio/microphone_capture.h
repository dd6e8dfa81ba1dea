#pragma once

#include "audio/capture_chunker.h"
#include "audio/capture_errors.h"
#include "audio/capture_permissions.h"
#include "audio/input_device_selection.h"
#include "ports/audio_system.h"

#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <QObject>

namespace vernalo {

// Records one microphone and hands out the outgoing PCM format in 3200-byte chunks. It steers
// away from wireless headsets towards a stable wired or built-in microphone. Everything,
// including the callbacks, runs on the thread that owns it (the main thread).
class MicrophoneCapture : public QObject
{
    Q_OBJECT
public:
    explicit MicrophoneCapture(AudioSystem *audioSystem, QObject *parent = nullptr);
    ~MicrophoneCapture() override;

    // Name of the device opened by the last start; empty after stop.
    QString activeInputDeviceName() const { return m_activeInputDeviceName; }
    // Source id of the device the last start opened, kept when its stream ends by itself; 0
    // after stop.
    quint32 activeInputDeviceID() const { return m_activeInputDeviceID; }
    // 0 or none: no preference.
    void setPreferredInputDeviceID(std::optional<quint32> id);
    bool isRunning() const { return m_stream != nullptr; }

    // Opens the chosen device, restarting a running capture. Throws MicrophoneCaptureError
    // (engineNotReady) when no microphone can be opened.
    void start();
    // Closes the stream; a partial chunk is discarded.
    void stop();

    QList<AudioInputDeviceOption> listAvailableInputDevices() const;
    InputDeviceInventory inputDeviceInventory() const;

    MicrophonePermissionSnapshot permissionSnapshot() const;
    // Re-checks access and logs every step; true when capture may be tried.
    QCoro::Task<bool> requestPermission();

Q_SIGNALS:
    // Each finished chunk; a partial chunk waits for the next buffer. A receiver may stop or
    // restart the capture.
    void chunkReady(const QByteArray &chunk);
    // The open stream ended by itself (device removed, server gone); the capture is idle then.
    void captureEnded(const vernalo::AudioServerError &error);

private:
    struct StreamDeleter
    {
        void operator()(AudioCaptureStream *stream) const;
    };

    bool openStream(const InputDeviceInfo &device);
    void handleFrames(const RawAudioFrames &frames);
    void handleEnded(const AudioServerError &error);
    void releaseStream();

    AudioSystem *m_audioSystem;
    std::unique_ptr<AudioCaptureStream, StreamDeleter> m_stream;
    CaptureChunker m_chunker;
    QString m_activeInputDeviceName;
    quint32 m_activeInputDeviceID = 0;
    std::optional<quint32> m_preferredInputDeviceID;
};

} // namespace vernalo
