#include "demo_audio_system.h"

#include "wire/clock.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <QtEndian>

namespace vernalo {

namespace {

using namespace std::chrono_literals;

// One sample of the speech-like voice at sample index n: a glottal pitch with a few harmonics,
// shaped into syllables (about 4 Hz) and phrases (1.8 s of talk, 0.6 s of pause).
double speechSample(qint64 n)
{
    const double t = static_cast<double>(n) / SyntheticCaptureStream::kSampleRate;
    const double phrase = std::fmod(t, 2.4);
    if (phrase >= 1.8)
        return 0.0;
    const double syllable = std::sin(std::numbers::pi * std::fmod(phrase * 4.2, 1.0));
    // The pitch drifts a little within a phrase, as a voice does.
    const double pitch = 140.0 + 25.0 * std::sin(2.0 * std::numbers::pi * 0.35 * t);
    double voiced = 0.0;
    const double harmonics[] = {1.0, 0.6, 0.35, 0.2};
    for (int h = 0; h < 4; ++h)
        voiced += harmonics[h] * std::sin(2.0 * std::numbers::pi * pitch * (h + 1) * t);
    return 0.18 * syllable * syllable * voiced;
}

double backgroundSample(qint64 n)
{
    const double t = static_cast<double>(n) / SyntheticCaptureStream::kSampleRate;
    return 0.02 * std::sin(2.0 * std::numbers::pi * 220.0 * t);
}

} // namespace

SyntheticCaptureStream::SyntheticCaptureStream(Clock *clock, Voice voice, QObject *parent)
    : AudioCaptureStream(parent)
    , m_voice(voice)
    , m_timer(clock->createTimer(this))
{
    connect(m_timer, &Timer::timeout, this, &SyntheticCaptureStream::tick);
    m_timer->start(std::chrono::milliseconds(kTickMs));
}

SyntheticCaptureStream::~SyntheticCaptureStream() = default;

void SyntheticCaptureStream::close()
{
    m_closed = true;
    m_timer->stop();
}

QByteArray SyntheticCaptureStream::render(Voice voice, qint64 startSample, int ms)
{
    const int count = kSampleRate / 1000 * ms;
    QByteArray pcm(count * 2, Qt::Uninitialized);
    for (int i = 0; i < count; ++i) {
        const qint64 n = startSample + i;
        const double value = voice == Voice::Speech ? speechSample(n) : backgroundSample(n);
        const auto sample = static_cast<qint16>(std::lround(std::clamp(value, -1.0, 1.0) * 32767));
        qToLittleEndian<qint16>(sample, pcm.data() + 2 * i);
    }
    return pcm;
}

void SyntheticCaptureStream::tick()
{
    if (m_closed)
        return;
    RawAudioFrames frames;
    frames.bytes = render(m_voice, m_position, kTickMs);
    m_position += kSampleRate / 1000 * kTickMs;
    frames.format = SampleFormat::Int16;
    frames.channels = 1;
    frames.sampleRate = kSampleRate;
    frames.interleaved = true;
    Q_EMIT framesArrived(frames);
}

DemoAudioSystem::DemoAudioSystem(Clock *clock)
    : m_clock(clock)
{ }

AudioServerStatus DemoAudioSystem::serverStatus()
{
    AudioServerStatus status;
    status.reachable = true;
    status.serverName = QStringLiteral("demo");
    return status;
}

AudioSourceList DemoAudioSystem::listSources()
{
    AudioSourceInfo microphone;
    microphone.id = kMicrophoneId;
    microphone.name = QStringLiteral("demo.microphone");
    microphone.description = QStringLiteral("Demo-mikrofoni");
    microphone.channels = 1;
    microphone.sampleRate = SyntheticCaptureStream::kSampleRate;
    microphone.bus = QStringLiteral("usb");
    microphone.deviceClass = QStringLiteral("sound");
    AudioSourceList list;
    list.sources = {microphone};
    list.defaultSourceId = kMicrophoneId;
    return list;
}

QList<AudioDisplayInfo> DemoAudioSystem::listDisplays()
{
    return {AudioDisplayInfo {1, 1280, 800}};
}

AudioPlaybackList DemoAudioSystem::listPlaybacks()
{
    return {};
}

CaptureOpenResult DemoAudioSystem::openCapture(const CaptureTarget &target)
{
    CaptureOpenResult result;
    if (target.kind == CaptureTarget::Kind::Source && target.sourceId != kMicrophoneId) {
        result.error =
            AudioServerError {QStringLiteral("demo"), 5, QStringLiteral("No such source")};
        return result;
    }
    const auto voice = target.kind == CaptureTarget::Kind::Source
        ? SyntheticCaptureStream::Voice::Speech
        : SyntheticCaptureStream::Voice::Background;
    result.stream = std::make_unique<SyntheticCaptureStream>(m_clock, voice);
    return result;
}

} // namespace vernalo
