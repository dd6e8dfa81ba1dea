#pragma once

#include "server_database.h"

#include <optional>
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace vernalo::server {

struct SessionError
{
    QDateTime at;
    int code = 0;
    QString message;
};

// One backend session as the database holds it. Counters cover every stream connection of the
// session; the average level is kept as a sum so that reconnects and restarts continue it.
struct SessionRecord
{
    QString id;
    std::optional<qint64> ownerId;
    QByteArray streamTokenHash;
    QString status; // "created", "active", "stopped"
    QDateTime createdAt;
    std::optional<QDateTime> endedAt;
    QString language;
    QString sttModel;
    bool enableInterim = true;
    bool enableSpeakerDiarization = false;
    int speakerCount = 0;
    qint64 audioFrameCount = 0;
    qint64 audioBytes = 0;
    double levelSum = 0.0;
    double peakLevel = 0.0;
    qint64 interimCount = 0;
    qint64 finalCount = 0;
    std::optional<SessionError> lastError;
    QDateTime lastActivityAt;
    // Of the API key a session without an owner was created with; empty for older rows, which
    // count as made with the built-in key.
    QByteArray apiKeyDigest;

    bool isStopped() const { return status == QLatin1String("stopped"); }
    double averageLevel() const { return audioFrameCount > 0 ? levelSum / audioFrameCount : 0.0; }
};

struct StoredSegment
{
    QString text;
    QDateTime timestamp;
    std::optional<QString> speakerLabel;
};

struct StoredMemo
{
    QDateTime createdAt;
    QByteArray payloadJson;
    QByteArray docx;
};

// Sessions, their transcripts and memos.
class SessionStore
{
public:
    explicit SessionStore(ServerDatabase &db);

    bool insert(const SessionRecord &session);
    std::optional<SessionRecord> find(const QString &id) const;
    // Newest first; `status` empty means any.
    QList<SessionRecord> list(std::optional<qint64> ownerId, const QString &status,
                              int limit) const;
    // Sessions that are not stopped, for the abandoned-stream rule after a restart.
    QList<SessionRecord> openSessions() const;
    // Writes status, end, counters, last error, activity time and stream token.
    bool update(const SessionRecord &session);
    bool remove(const QString &id);

    bool appendSegment(const QString &sessionId, const StoredSegment &segment);
    // A final and the counters that include it, both or neither.
    bool appendSegmentAndUpdate(const SessionRecord &session, const StoredSegment &segment);
    QList<StoredSegment> segments(const QString &sessionId) const;
    int segmentCount(const QString &sessionId) const;

    bool saveMemo(const QString &sessionId, const StoredMemo &memo);
    std::optional<StoredMemo> memo(const QString &sessionId) const;

private:
    QList<SessionRecord> readAll(QSqlQuery &query) const;

    ServerDatabase &m_db;
};

} // namespace vernalo::server
