#pragma once

#include "session_store.h"
#include "stt_wire.h"

#include <chrono>
#include <deque>
#include <memory>
#include <QHash>
#include <QObject>
#include <QPointer>

class QWebSocket;

namespace vernalo {
class Clock;
class Timer;
} // namespace vernalo

namespace vernalo::server {

class LiveStream;
class RecognizerFactory;

// The sessions that are not stopped, with their live stream if one is connected. Counters are
// kept here and written to the database at every final, every sweep and every state change, so
// a killed server loses at most one sweep interval of counters and never a final.
//
// A session whose stream has been gone for kAbandonAfter without a stop is ended as "stopped"
// with its transcript kept, so the client's crash recovery can restore it.
class SessionRegistry : public QObject
{
    Q_OBJECT
public:
    struct Limits
    {
        int maxStreams = 64;
        int maxOpenSessionsPerOwner = 10;
        // A connected stream without any frame for this long counts as gone (a half-open
        // peer).
        std::chrono::seconds streamIdleAfter {120};
    };

    SessionRegistry(SessionStore &store, RecognizerFactory &recognizers, Clock &clock,
                    Limits limits, QObject *parent = nullptr);
    ~SessionRegistry() override;

    static constexpr std::chrono::minutes kAbandonAfter {10};
    static constexpr std::chrono::seconds kSweepEvery {15};

    // Picks up the open sessions of an earlier run; their streams count as gone since their
    // last recorded activity.
    void loadOpenSessions();

    // The new session and its stream token (returned once, stored only as a digest). A session
    // without an owner belongs to the API key it was made with.
    QPair<SessionRecord, QString> create(const SessionCreateParams &params,
                                         std::optional<qint64> ownerId,
                                         const QByteArray &apiKeyDigest = {});
    // False when the owner (or, without one, the API key) already has the most open sessions.
    bool mayOpenSession(std::optional<qint64> ownerId, const QByteArray &apiKeyDigest) const;
    // False when a new stream for this session would go over the cap; replacing the session's
    // own stream is always allowed.
    bool mayOpenStream(const QString &id) const;
    // Stops the user's open sessions, closes their streams and voids their stream tokens.
    void endSessionsOf(qint64 userId, const QString &reason);
    // The current state, including unsaved counters.
    std::optional<SessionRecord> find(const QString &id) const;
    // Ends a session; a live stream gets the "stopped" status and is closed. False if unknown.
    bool stop(const QString &id, const QString &reason);
    bool remove(const QString &id);

    // Takes a WebSocket connection whose URL names a session and carries its token. A connection
    // with a refusal (an error event's JSON) is answered with it and closed.
    void acceptStream(std::unique_ptr<QWebSocket> socket, const QString &refusal = {});
    int liveStreamCount() const;
    // Writes every open session's counters; used at shutdown.
    void flushAll();

    // Called by the live streams.
    void noteAudio(const QString &id, qint64 bytes, double level);
    // Where the session's audio ends, in the client's count of bytes sent.
    qint64 audioEnd(const QString &id) const;
    // For audio whose place the client names (a reopened stream sends again what we may have
    // missed): how many leading bytes of the chunk at this offset the session already holds.
    // A chunk past the end leaves a gap, which later offsets account for.
    qint64 heldAudioBytes(const QString &id, qint64 offset, qint64 bytes);
    // Whether this is the session's newest stream (an older one may still deliver late audio).
    bool isCurrentStream(const QString &id, const LiveStream *stream) const;
    void noteInterim(const QString &id);
    // False when the final could not be stored; it must then not reach the client. The audio
    // before endOffset (in audioEnd()'s count) is settled by it.
    bool storeFinal(const QString &id, const StoredSegment &segment, qint64 endOffset);
    void noteError(const QString &id, int code, const QString &message);
    QString recognizerModel() const;
    RecognizerFactory &recognizers() { return m_recognizers; }

Q_SIGNALS:
    void sessionStopped(const QString &id, const QString &reason);

private:
    struct SettledAudio
    {
        qint64 end = 0; // in audioEnd()'s count
        qint64 frames = 0;
        // Per frame since: the audio end after it and the frame count then.
        std::deque<std::pair<qint64, qint64>> pending;

        // The frame count once everything before `until` is settled.
        qint64 framesUntil(qint64 until) const;
        void advance(qint64 until);
    };
    struct OpenSession
    {
        SessionRecord record;
        QPointer<LiveStream> stream;
        qint64 lastFrameMonotonicMs = 0;
        // Audio the client sent that never arrived (dropped on its side); not kept on disk.
        qint64 audioGapBytes = 0;
        // What has become transcript. Only that much audio is written as held: the rest lives
        // in the recognizer and dies with the process, so after a restart the client's copy of
        // it must be taken again, and counted once.
        SettledAudio settled;
    };

    void sweep();
    void streamGone(const QString &id, LiveStream *stream);
    void persist(OpenSession &open);
    // The record as written: the audio it holds counts only what has become transcript.
    static SessionRecord onDisk(SessionRecord record, qint64 settledEnd, qint64 settledFrames);

    SessionStore &m_store;
    RecognizerFactory &m_recognizers;
    Clock &m_clock;
    QHash<QString, OpenSession> m_open;
    Timer *m_sweepTimer = nullptr;
    Limits m_limits;
};

} // namespace vernalo::server
