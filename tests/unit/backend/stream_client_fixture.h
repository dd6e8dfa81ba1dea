#pragma once

// The stream client against a loopback stream peer on fake time, and what the tests read from
// the frames the peer received.

#include "backend/websocket_stream_client.h"
#include "support/fake_clock.h"
#include "support/loopback_stream_peer.h"
#include "support/socket_wait.h"
#include "wire/wire_coding.h"

#include <QJsonDocument>
#include <QtTest>

namespace vernalo::test {

// A distinct 3200-byte chunk per index, so a lost or reordered chunk shows.
inline QByteArray chunk(int index)
{
    QByteArray bytes(3200, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((index * 31 + i) & 0xff);
    return bytes;
}

inline const QByteArray kStart =
    R"({"enableInterim":true,"enableSpeakerDiarization":false,"language":"fi-FI",)"
    R"("sampleRate":16000,"speakerCount":0,"sttModel":"chirp_3","type":"start"})";

inline QByteArray base64Message(const QByteArray &pcm)
{
    return R"({"audioBase64":")" + pcm.toBase64() + R"(","type":"audio"})";
}

// The start of a reopened stream also says where its audio resumes.
inline std::optional<qint64> startOffset(const StreamFrame &frame)
{
    QJsonObject object = QJsonDocument::fromJson(frame.data).object();
    const QJsonValue offset = object.take(QStringLiteral("audioOffset"));
    if (!frame.isText || wire::compact(object) != kStart)
        return std::nullopt;
    return offset.isUndefined() ? 0 : offset.toInteger(-1);
}

// The PCM a frame carries, in either framing.
inline QByteArray audioOf(const StreamFrame &frame)
{
    if (!frame.isText)
        return frame.data;
    return QByteArray::fromBase64(
        QJsonDocument::fromJson(frame.data).object().value("audioBase64").toString().toLatin1());
}

// One letter per frame: S start, B binary audio, J JSON audio, T stop, ? anything else.
inline QString pattern(const QList<StreamFrame> &frames)
{
    QString letters;
    for (const auto &frame : frames) {
        if (startOffset(frame))
            letters += u'S';
        else if (!frame.isText)
            letters += u'B';
        else if (frame.data.startsWith(R"({"audioBase64")"))
            letters += u'J';
        else if (frame.data == R"({"type":"stop"})")
            letters += u'T';
        else
            letters += u'?';
    }
    return letters;
}

class StreamClientFixture
{
protected:
    void setUp()
    {
        m_clock = std::make_unique<FakeClock>();
        m_peer = std::make_unique<LoopbackStreamPeer>();
        QVERIFY(m_peer->start());
        m_client = std::make_unique<WebSocketStreamClient>(m_clock.get());
        m_events.clear();
    }
    void tearDown()
    {
        m_client.reset();
        m_peer.reset();
        m_clock.reset();
    }

    std::unique_ptr<FakeClock> m_clock;
    std::unique_ptr<LoopbackStreamPeer> m_peer;
    std::unique_ptr<WebSocketStreamClient> m_client;
    QList<StreamEvent> m_events;

    WebSocketStreamClient::EventHandler recorder()
    {
        return [this](const StreamEvent &event) { m_events.append(event); };
    }

    void connectClient(const QString &pathAndQuery = QStringLiteral("/v1/sessions/s1/stream"))
    {
        m_client->open(m_peer->url(pathAndQuery).toString(), QStringLiteral("fi-FI"),
                       QStringLiteral("chirp_3"), recorder());
    }

    // Connects and waits until the peer holds the start message.
    bool open()
    {
        connectClient();
        return waitFrames(1);
    }

    bool waitFrames(int count, int connection = -1)
    {
        return waitUntil([&] {
            return m_peer->connectionCount() > 0 &&
                m_peer->connection(connection).frames.size() >= count;
        });
    }
    bool waitConnections(int count)
    {
        return waitUntil([&] { return m_peer->connectionCount() >= count; });
    }
    bool waitEvents(int count)
    {
        return waitUntil([&] { return m_events.size() >= count; });
    }
    bool isReconnecting(int index) const
    {
        if (index < 0 || index >= m_events.size())
            return false;
        const auto *status = m_events.at(index).status();
        return status && status->state == u"reconnecting" && !status->model;
    }
    // Time until the only armed timer of the client fires.
    qint64 msUntilOnlyTimer() const
    {
        if (m_clock->activeTimerCount() != 1)
            return -1;
        return *m_clock->nextDueMs() - m_clock->monotonicMs();
    }
};

} // namespace vernalo::test
