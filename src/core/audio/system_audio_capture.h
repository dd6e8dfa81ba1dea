#pragma once

#include "audio/capture_chunker.h"
#include "audio/capture_errors.h"
#include "audio/capture_permissions.h"
#include "foundation/models.h"
#include "ports/audio_system.h"
#include "wire/clock.h"

#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <QObject>

namespace vernalo {

// Records what the computer plays: everything the default output plays, or the playback of
// one application. Emits the outgoing PCM format in 3200-byte chunks, or shorter ones (at least
// 640 bytes, 0.18 s after the previous chunk) when audio trickles in. Runs on the thread that
// owns it (the main thread), callbacks included.
class SystemAudioCapture : public QObject
{
    Q_OBJECT
public:
    SystemAudioCapture(AudioSystem *audioSystem, Clock *clock, QObject *parent = nullptr);
    ~SystemAudioCapture() override;

    // "Näyttö <display id> • <application label>" while capturing, else empty.
    QString activeSourceName() const { return m_activeSourceName; }
    void setPreferredDisplayID(std::optional<quint32> id); // 0 or none: the first display
    void setPreferredApplicationBundleID(const QString &id); // empty: all applications
    // Tells whether a process of an application runs; isProcessRunning() on /proc by default.
    void setProcessProbe(std::function<bool(const QString &)> probe);
    bool isCapturing() const { return m_stream != nullptr; }

    int rawSampleCount() const { return m_rawSampleCount; }
    int pcmFrameCount() const { return m_pcmFrameCount; }
    int emittedChunkCount() const { return m_emittedChunkCount; }

    // Throws SystemAudioCaptureError.
    void start();
    void stop();

    QList<SystemAudioDisplayOption> listDisplaySources() const;
    // Throws SystemAudioCaptureError (permissionDenied) when the server cannot be asked. `kept`
    // (the stored choice) is listed too while a process of it runs.
    QList<SystemAudioApplicationOption> listApplicationSources(const QString &kept = {}) const;

    // preflightResult defaults to hasPermission(); no probe unless one is given.
    SystemAudioPermissionSnapshot permissionSnapshot(std::optional<bool> preflightResult = {},
                                                     std::optional<bool> probeResult = {}) const;
    SystemAudioPermissionSnapshot currentPermissionSnapshot();
    bool permissionProbe();
    bool hasPermission() const;
    bool hasRequestedPermissionThisRun() const { return m_hasRequestedPermissionThisRun; }
    QCoro::Task<bool> requestPermission();

Q_SIGNALS:
    // Each finished chunk. A receiver may stop or restart the capture.
    void chunkReady(const QByteArray &chunk);
    // Once per buffer the server delivers, before conversion.
    void rawSampleArrived();
    // The stream ended by itself (output device removed, server gone).
    void captureEnded(const vernalo::AudioServerError &error);

private:
    struct StreamDeleter
    {
        void operator()(AudioCaptureStream *stream) const;
    };

    void handleFrames(const RawAudioFrames &frames);
    void handleEnded(const AudioServerError &error);
    void flushChunksIfNeeded(quint64 generation);
    void emitPCMChunk(const QByteArray &chunk);
    void releaseStream();
    QList<SystemAudioApplicationOption>
    applicationsRunning(const QList<AudioPlaybackInfo> &playbacks, const QString &kept) const;

    AudioSystem *m_audioSystem;
    Clock *m_clock;
    std::unique_ptr<AudioCaptureStream, StreamDeleter> m_stream;
    quint64 m_generation = 0; // grows with every start and stop, so callbacks notice either
    CaptureChunker m_chunker;
    QString m_activeSourceName;
    std::optional<quint32> m_preferredDisplayID;
    QString m_preferredApplicationBundleID;
    std::function<bool(const QString &)> m_isProcessRunning;
    bool m_hasLoggedUnsupportedFormat = false;
    int m_rawSampleCount = 0;
    int m_pcmFrameCount = 0;
    int m_emittedChunkCount = 0;
    std::optional<qint64> m_lastChunkEmitAtMs; // none: the distant past
    bool m_hasRequestedPermissionThisRun = false;
};

} // namespace vernalo
