#pragma once

#include "audio/pcm_format.h"

#include <memory>
#include <optional>
#include <QList>
#include <QObject>
#include <QString>

namespace vernalo {

// A failure reported by the sound server, written into log lines as
// "domain=<domain> code=<code> desc=<description>".
struct AudioServerError
{
    QString domain = QStringLiteral("pulse");
    int code = 0;
    QString description;

    QString details() const;
};

// One capture source of the sound server (microphones and monitors alike), with the raw
// properties the core classifies.
struct AudioSourceInfo
{
    quint32 id = 0; // stable and non-zero for the same source name, across restarts
    QString name; // the server's own name of the source
    QString description; // the human-readable name; may be empty
    int channels = 0;
    double sampleRate = 0.0;
    QString bus; // "bluetooth", "usb", "pci", ... or empty
    QString formFactor; // "headset", "hands-free", "webcam", "internal", ... or empty
    QString deviceClass; // "sound", "monitor", "filter", "abstract", ... or empty
    bool isMonitor = false; // records what a sink plays
    bool muted = false; // muted in the sound server: it records only silence
};

struct AudioSourceList
{
    QList<AudioSourceInfo> sources; // in the server's order
    std::optional<quint32> defaultSourceId;
    std::optional<AudioServerError> error; // set when the server could not be asked
};

// A display the user can pick for system audio; its audio is what the computer plays.
struct AudioDisplayInfo
{
    quint32 id = 0; // 1-based
    int width = 0;
    int height = 0;
};

// A running application as the sound server knows it: one of its playback streams, or its
// connection to the server (a meeting application that has not played yet).
struct AudioPlaybackInfo
{
    QString applicationId; // groups the streams of one application; empty when unknown
    QString applicationName;
    qint64 processId = 0; // 0 when unknown
};

struct AudioPlaybackList
{
    QList<AudioPlaybackInfo> playbacks;
    std::optional<AudioServerError> error;
};

struct AudioServerStatus
{
    bool reachable = false;
    QString serverName; // e.g. "pulseaudio 16.1" when reachable
    std::optional<AudioServerError> error;
};

// What a capture stream records.
struct CaptureTarget
{
    // AllApplications: the playback of every application on every output but this program.
    enum class Kind { Source, AllApplications, Application };

    Kind kind = Kind::Source;
    quint32 sourceId = 0; // Kind::Source
    QString applicationId; // Kind::Application: every playback stream of it, mixed
    int fragmentFrames = 1024; // how many frames the server should hand over at a time

    static CaptureTarget source(quint32 id, int fragmentFrames);
    static CaptureTarget allApplications(int fragmentFrames);
    static CaptureTarget application(const QString &applicationId, int fragmentFrames);
};

// A running capture. Frames and the end notice arrive on the thread that opened the stream
// (the main thread). After close() no signal is emitted any more.
class AudioCaptureStream : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~AudioCaptureStream() override = default;

    // Stops the capture at once; safe to call more than once.
    virtual void close() = 0;
    // Sample format as the server describes it (e.g. "float32le"), for log lines.
    virtual QString formatName() const = 0;
    virtual int bitsPerSample() const = 0;

Q_SIGNALS:
    void framesArrived(const vernalo::RawAudioFrames &frames);
    // The stream ended by itself: the device went away, the server stopped.
    void ended(const vernalo::AudioServerError &error);
};

struct CaptureOpenResult
{
    std::unique_ptr<AudioCaptureStream> stream; // null on failure
    AudioServerError error;
};

// What the sound server does by itself, told on the main thread.
class AudioSystemEvents : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    // The server went away or stopped answering; every capture stream ends (each reports it).
    void serverLost(const vernalo::AudioServerError &error);
    // It answers again; streams must be opened anew.
    void serverBack(const QString &serverName);
    // Devices, applications or playback streams changed.
    void sourcesChanged();
};

// The sound server as the capture front ends need it. Queries answer at once from what the
// implementation last heard from the server; none waits for it, so a hung server cannot hold
// up the caller. Opening a capture never waits either: a stream that cannot start reports
// ended().
class AudioSystem
{
public:
    virtual ~AudioSystem() = default;

    AudioSystemEvents &events() { return m_events; }

    virtual AudioServerStatus serverStatus() = 0;
    virtual AudioSourceList listSources() = 0;
    virtual QList<AudioDisplayInfo> listDisplays() = 0;
    virtual AudioPlaybackList listPlaybacks() = 0;
    virtual CaptureOpenResult openCapture(const CaptureTarget &target) = 0;

private:
    AudioSystemEvents m_events;
};

} // namespace vernalo
