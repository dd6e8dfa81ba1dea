#pragma once

#include "audio/pcm_mixer.h"
#include "foundation/models.h"

#include <functional>
#include <memory>
#include <optional>
#include <QByteArray>
#include <QDateTime>
#include <QObject>

namespace vernalo {

class Clock;

// The status hint shown while no text has arrived yet: every 25th chunk sent (about 2.5 s of
// audio) tells whether anything audible is going out. Nothing while paused or between those
// chunks.
std::optional<QString> listeningHint(bool paused, int audioFramesSent, double outgoingLevel);

// The path of every captured chunk to the live stream, on the main thread: per-source counters
// and level meters, the pairing and mixing of both sources, silence while paused, and the
// hand-off to the sink (the stream client's sendAudio). The recording controller owns one, wires
// the capture sources' chunks into the push slots, and republishes the values it reads here.
class OutgoingAudioPipeline : public QObject
{
    Q_OBJECT

public:
    using ChunkSink = std::function<void(const QByteArray &)>;

    explicit OutgoingAudioPipeline(Clock *clock, QObject *parent = nullptr);
    ~OutgoingAudioPipeline() override;

    // Starts routing chunks of the mode's sources to the sink. The queues and the lag-drop
    // counters start empty. The sink must not delete this object.
    void activate(AudioInputMode mode, ChunkSink sink);
    // Switches the sources of a running activation (a source added or a fallback). Leaving the
    // mixed mode sends what the remaining source still has queued and drops the other's.
    void setMode(AudioInputMode mode);
    // Stops routing: chunks pushed afterwards (late deliveries of a stopped capture) are ignored,
    // nothing queued survives, the lag-drop counters return to 0 and the sink is released.
    void deactivate();
    AudioInputMode mode() const { return m_mode; }

    void setMixSettings(const MixSettings &settings) { m_mixSettings = settings; }
    MixSettings mixSettings() const { return m_mixSettings; }

    // While paused every chunk still goes out, as zeros of the same length, so the stream keeps
    // its timing; capture, queues and input meters keep running.
    void setPaused(bool paused) { m_paused = paused; }

    // A new recording: queues emptied, every counter, level and peak 0, no last-audio time.
    void resetForNewRecording();
    // A restarted microphone starts its counter, level and peak from 0.
    void resetMicrophoneStats();
    // The backend's view of the same stream: its frame count only ever raises ours, its average
    // level replaces ours, its peak raises ours.
    void applyServerAudioStats(std::optional<int> audioFrameCount, std::optional<double> avgLevel,
                               std::optional<double> peakLevel);
    // One tick of the stream's keep-alive: while paused a chunk of silence goes out (and counts
    // as local audio); while live, silence bridges a capture that has been quiet for more than
    // 1.2 s. Nothing before the first chunk of the recording.
    void sendKeepAlive();

    int micFramesSeen() const { return m_micFramesSeen; }
    // Microphone chunks that carried any sound (not digital silence).
    int micFramesWithSignal() const { return m_micFramesWithSignal; }
    int systemFramesSeen() const { return m_systemFramesSeen; }
    int systemRawSamplesSeen() const { return m_systemRawSamplesSeen; }
    int mixedLagDropMicChunks() const { return m_lagDropMic; }
    int mixedLagDropSystemChunks() const { return m_lagDropSystem; }
    double micAudioLevel() const { return m_micLevel; }
    double micAudioPeak() const { return m_micPeak; }
    double systemAudioLevel() const { return m_systemLevel; }
    double systemAudioPeak() const { return m_systemPeak; }
    double outgoingAudioLevel() const { return m_outgoingLevel; }
    double outgoingAudioPeak() const { return m_outgoingPeak; }
    int audioFramesSent() const { return m_audioFramesSent; }
    // Invalid until a chunk has gone out in this recording.
    QDateTime lastLocalAudioAt() const { return m_lastLocalAudioAt; }
    int pendingMicChunks() const { return static_cast<int>(m_queues.mic.size()); }
    int pendingSystemChunks() const { return static_cast<int>(m_queues.system.size()); }

public Q_SLOTS:
    void pushMicrophoneChunk(const QByteArray &chunk);
    void pushSystemChunk(const QByteArray &chunk);
    // The system source received a raw buffer, before any conversion.
    void noteSystemRawSample();

Q_SIGNALS:
    void countersChanged();
    void micLevelChanged();
    void systemLevelChanged();
    void outgoingLevelChanged();
    void audioFramesSentChanged();
    void lastLocalAudioAtChanged();
    // The controller shows the hint as its status while recording and no segment has arrived.
    void listeningHintDue(const QString &hint);

private:
    enum class Source { Mic, System };

    bool accepts(Source source) const;
    void measure(Source source, const QByteArray &chunk);
    void trimBacklog();
    void drain();
    void sendOut(const QByteArray &chunk);
    void deliver(const QByteArray &bytes);

    Clock *m_clock;
    std::shared_ptr<ChunkSink> m_sink;
    bool m_active = false;
    AudioInputMode m_mode = AudioInputMode::Microphone;
    MixSettings m_mixSettings;
    bool m_paused = false;
    MixedQueues m_queues;

    int m_micFramesSeen = 0;
    int m_micFramesWithSignal = 0;
    int m_systemFramesSeen = 0;
    int m_systemRawSamplesSeen = 0;
    int m_lagDropMic = 0;
    int m_lagDropSystem = 0;
    double m_micLevel = 0.0;
    double m_micPeak = 0.0;
    double m_systemLevel = 0.0;
    double m_systemPeak = 0.0;
    double m_outgoingLevel = 0.0;
    double m_outgoingPeak = 0.0;
    int m_audioFramesSent = 0;
    QDateTime m_lastLocalAudioAt;
};

} // namespace vernalo
