#pragma once

#include "ports/audio_system.h"

#include <QPointer>

namespace vernalo {

class Clock;
class Timer;

// A capture stream that produces a synthetic signal in real time: every 100 ms of the clock it
// emits 100 ms of 16 kHz mono PCM16.
class SyntheticCaptureStream final : public AudioCaptureStream
{
    Q_OBJECT
public:
    enum class Voice {
        Speech, // voiced syllables at about four per second with short pauses between phrases
        Background, // a soft steady hum, as system audio behind a call
    };

    SyntheticCaptureStream(Clock *clock, Voice voice, QObject *parent = nullptr);
    ~SyntheticCaptureStream() override;

    void close() override;
    QString formatName() const override { return QStringLiteral("s16le"); }
    int bitsPerSample() const override { return 16; }

    // `ms` milliseconds of a voice as PCM16, starting at the given sample.
    static QByteArray render(Voice voice, qint64 startSample, int ms);

    static constexpr int kSampleRate = 16000;
    static constexpr int kTickMs = 100;

private:
    void tick();

    Voice m_voice;
    Timer *m_timer;
    qint64 m_position = 0; // samples rendered so far
    bool m_closed = false;
};

// A sound server with one synthetic microphone and the computer's own playback, for the
// screenshot tour and demos on machines without a sound server. Nothing is played or recorded.
class DemoAudioSystem final : public AudioSystem
{
public:
    explicit DemoAudioSystem(Clock *clock);

    AudioServerStatus serverStatus() override;
    AudioSourceList listSources() override;
    QList<AudioDisplayInfo> listDisplays() override;
    AudioPlaybackList listPlaybacks() override;
    CaptureOpenResult openCapture(const CaptureTarget &target) override;

    static constexpr quint32 kMicrophoneId = 0x5eed0001;

private:
    Clock *m_clock;
};

} // namespace vernalo
