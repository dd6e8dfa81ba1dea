#pragma once

#include "ports/audio_system.h"

#include <optional>
#include <QList>
#include <QMap>
#include <QPointer>

namespace vernalo::test {

// A capture stream whose frames the test hands in.
class FakeCaptureStream final : public AudioCaptureStream
{
    Q_OBJECT
public:
    explicit FakeCaptureStream(const CaptureTarget &target, QString formatName, int bitsPerSample)
        : m_target(target)
        , m_formatName(std::move(formatName))
        , m_bitsPerSample(bitsPerSample)
    { }

    void close() override { m_closed = true; }
    QString formatName() const override { return m_formatName; }
    int bitsPerSample() const override { return m_bitsPerSample; }

    const CaptureTarget &target() const { return m_target; }
    bool isClosed() const { return m_closed; }

    // Emits the frames now, as the server would on the main thread. A closed stream is silent.
    void deliver(const RawAudioFrames &frames)
    {
        if (!m_closed)
            Q_EMIT framesArrived(frames);
    }
    void endWith(const AudioServerError &error)
    {
        if (!m_closed)
            Q_EMIT ended(error);
    }

private:
    CaptureTarget m_target;
    QString m_formatName;
    int m_bitsPerSample;
    bool m_closed = false;
};

// A sound server with scripted devices, displays, playbacks and failures. It remembers every
// stream it opened, so tests can see what was opened and whether it was closed again.
class FakeAudioSystem final : public AudioSystem
{
public:
    AudioServerStatus serverStatus() override;
    AudioSourceList listSources() override;
    QList<AudioDisplayInfo> listDisplays() override { return displays; }
    AudioPlaybackList listPlaybacks() override;
    CaptureOpenResult openCapture(const CaptureTarget &target) override;

    // Adds a source with the given transport properties and returns it.
    AudioSourceInfo &addSource(quint32 id, const QString &description, const QString &bus = {},
                               const QString &formFactor = {}, const QString &deviceClass = {});

    FakeCaptureStream *lastStream() const { return streams.isEmpty() ? nullptr : streams.last(); }
    // Streams opened and not closed.
    QList<FakeCaptureStream *> openStreams() const;

    // An unreachable server fails every query.
    bool reachable = true;
    AudioServerError unreachableError {QStringLiteral("pulse"), 6,
                                       QStringLiteral("Connection refused")};
    QList<AudioSourceInfo> sources;
    std::optional<quint32> defaultSourceId;
    QList<AudioDisplayInfo> displays {{1, 1920, 1080}};
    QList<AudioPlaybackInfo> playbacks;
    // Opening fails for these source ids (or for every monitor).
    QMap<quint32, AudioServerError> failingSources;
    std::optional<AudioServerError> monitorFailure;
    QString streamFormatName = QStringLiteral("float32le");
    int streamBitsPerSample = 32;

    QList<CaptureTarget> openRequests;
    QList<QPointer<FakeCaptureStream>> streams;
};

} // namespace vernalo::test
