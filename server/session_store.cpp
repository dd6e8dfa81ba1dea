#include "session_store.h"

#include <QVariant>

namespace vernalo::server {

namespace {

const QString kColumns = QStringLiteral(
    "id, owner_id, stream_token_hash, status, created_at, ended_at, language, stt_model, "
    "enable_interim, diarization, speaker_count, audio_frame_count, audio_bytes, level_sum, "
    "peak_level, interim_count, final_count, last_error_at, last_error_code, last_error_message, "
    "last_activity_at, api_key_digest");

QVariant optionalTime(const std::optional<QDateTime> &time)
{
    return time ? QVariant(ServerDatabase::timeText(*time)) : QVariant();
}

} // namespace

SessionStore::SessionStore(ServerDatabase &db)
    : m_db(db)
{ }

bool SessionStore::insert(const SessionRecord &s)
{
    QSqlQuery query = m_db.prepare(
        QStringLiteral("INSERT INTO sessions (") + kColumns +
        QStringLiteral(
            ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    query.addBindValue(s.id);
    query.addBindValue(s.ownerId ? QVariant(*s.ownerId) : QVariant());
    query.addBindValue(s.streamTokenHash);
    query.addBindValue(s.status);
    query.addBindValue(ServerDatabase::timeText(s.createdAt));
    query.addBindValue(optionalTime(s.endedAt));
    // Empty, never NULL: the columns are required.
    query.addBindValue(s.language.isNull() ? QStringLiteral("") : s.language);
    query.addBindValue(s.sttModel.isNull() ? QStringLiteral("") : s.sttModel);
    query.addBindValue(s.enableInterim ? 1 : 0);
    query.addBindValue(s.enableSpeakerDiarization ? 1 : 0);
    query.addBindValue(s.speakerCount);
    query.addBindValue(s.audioFrameCount);
    query.addBindValue(s.audioBytes);
    query.addBindValue(s.levelSum);
    query.addBindValue(s.peakLevel);
    query.addBindValue(s.interimCount);
    query.addBindValue(s.finalCount);
    query.addBindValue(s.lastError ? QVariant(ServerDatabase::timeText(s.lastError->at))
                                   : QVariant());
    query.addBindValue(s.lastError ? QVariant(s.lastError->code) : QVariant());
    query.addBindValue(s.lastError ? QVariant(s.lastError->message) : QVariant());
    query.addBindValue(ServerDatabase::timeText(s.lastActivityAt));
    query.addBindValue(s.apiKeyDigest.isEmpty() ? QVariant() : QVariant(s.apiKeyDigest));
    return m_db.exec(query);
}

QList<SessionRecord> SessionStore::readAll(QSqlQuery &query) const
{
    QList<SessionRecord> out;
    if (!m_db.exec(query))
        return out;
    while (query.next()) {
        SessionRecord s;
        s.id = query.value(0).toString();
        if (!query.value(1).isNull())
            s.ownerId = query.value(1).toLongLong();
        s.streamTokenHash = query.value(2).toByteArray();
        s.status = query.value(3).toString();
        s.createdAt = ServerDatabase::timeFrom(query.value(4)).value_or(QDateTime());
        s.endedAt = ServerDatabase::timeFrom(query.value(5));
        s.language = query.value(6).toString();
        s.sttModel = query.value(7).toString();
        s.enableInterim = query.value(8).toInt() != 0;
        s.enableSpeakerDiarization = query.value(9).toInt() != 0;
        s.speakerCount = query.value(10).toInt();
        s.audioFrameCount = query.value(11).toLongLong();
        s.audioBytes = query.value(12).toLongLong();
        s.levelSum = query.value(13).toDouble();
        s.peakLevel = query.value(14).toDouble();
        s.interimCount = query.value(15).toLongLong();
        s.finalCount = query.value(16).toLongLong();
        if (const auto at = ServerDatabase::timeFrom(query.value(17)))
            s.lastError = SessionError {*at, query.value(18).toInt(), query.value(19).toString()};
        s.lastActivityAt = ServerDatabase::timeFrom(query.value(20)).value_or(s.createdAt);
        s.apiKeyDigest = query.value(21).toByteArray();
        out.append(s);
    }
    return out;
}

std::optional<SessionRecord> SessionStore::find(const QString &id) const
{
    QSqlQuery query = m_db.prepare(QStringLiteral("SELECT ") + kColumns +
                                   QStringLiteral(" FROM sessions WHERE id = ?"));
    query.addBindValue(id);
    const QList<SessionRecord> found = readAll(query);
    if (found.isEmpty())
        return std::nullopt;
    return found.constFirst();
}

QList<SessionRecord> SessionStore::list(std::optional<qint64> ownerId, const QString &status,
                                        int limit) const
{
    QString sql = QStringLiteral("SELECT ") + kColumns + QStringLiteral(" FROM sessions WHERE ") +
        (ownerId ? QStringLiteral("owner_id = ?") : QStringLiteral("owner_id IS NULL"));
    if (!status.isEmpty())
        sql += QStringLiteral(" AND status = ?");
    sql += QStringLiteral(" ORDER BY created_at DESC, rowid DESC LIMIT ?");
    QSqlQuery query = m_db.prepare(sql);
    if (ownerId)
        query.addBindValue(*ownerId);
    if (!status.isEmpty())
        query.addBindValue(status);
    query.addBindValue(limit);
    return readAll(query);
}

QList<SessionRecord> SessionStore::openSessions() const
{
    QSqlQuery query = m_db.prepare(QStringLiteral("SELECT ") + kColumns +
                                   QStringLiteral(" FROM sessions WHERE status != 'stopped'"));
    return readAll(query);
}

bool SessionStore::update(const SessionRecord &s)
{
    QSqlQuery query = m_db.prepare(QStringLiteral(
        "UPDATE sessions SET status = ?, ended_at = ?, audio_frame_count = ?, audio_bytes = ?, "
        "level_sum = ?, peak_level = ?, interim_count = ?, final_count = ?, last_error_at = ?, "
        "last_error_code = ?, last_error_message = ?, last_activity_at = ?, stream_token_hash = ? "
        "WHERE id = ?"));
    query.addBindValue(s.status);
    query.addBindValue(optionalTime(s.endedAt));
    query.addBindValue(s.audioFrameCount);
    query.addBindValue(s.audioBytes);
    query.addBindValue(s.levelSum);
    query.addBindValue(s.peakLevel);
    query.addBindValue(s.interimCount);
    query.addBindValue(s.finalCount);
    query.addBindValue(s.lastError ? QVariant(ServerDatabase::timeText(s.lastError->at))
                                   : QVariant());
    query.addBindValue(s.lastError ? QVariant(s.lastError->code) : QVariant());
    query.addBindValue(s.lastError ? QVariant(s.lastError->message) : QVariant());
    query.addBindValue(ServerDatabase::timeText(s.lastActivityAt));
    query.addBindValue(s.streamTokenHash);
    query.addBindValue(s.id);
    return m_db.exec(query) && query.numRowsAffected() == 1;
}

bool SessionStore::remove(const QString &id)
{
    QSqlQuery query = m_db.prepare(QStringLiteral("DELETE FROM sessions WHERE id = ?"));
    query.addBindValue(id);
    return m_db.exec(query) && query.numRowsAffected() == 1;
}

bool SessionStore::appendSegmentAndUpdate(const SessionRecord &session,
                                          const StoredSegment &segment)
{
    if (!m_db.transaction())
        return false;
    if (appendSegment(session.id, segment) && update(session) && m_db.commit())
        return true;
    m_db.rollback();
    return false;
}

bool SessionStore::appendSegment(const QString &sessionId, const StoredSegment &segment)
{
    QSqlQuery query = m_db.prepare(QStringLiteral(
        "INSERT INTO segments (session_id, text, ts, speaker_label) VALUES (?, ?, ?, ?)"));
    query.addBindValue(sessionId);
    query.addBindValue(segment.text);
    query.addBindValue(ServerDatabase::timeText(segment.timestamp));
    query.addBindValue(segment.speakerLabel ? QVariant(*segment.speakerLabel) : QVariant());
    return m_db.exec(query);
}

QList<StoredSegment> SessionStore::segments(const QString &sessionId) const
{
    QList<StoredSegment> out;
    // By time first: when a new connection replaces a stream, the old one's recognizer may
    // still store finals of its earlier audio after the new one's first finals. The times are
    // stored in one fixed-width UTC form with milliseconds, so text order is time order.
    QSqlQuery query = m_db.prepare(QStringLiteral(
        "SELECT text, ts, speaker_label FROM segments WHERE session_id = ? ORDER BY ts, id"));
    query.addBindValue(sessionId);
    if (!m_db.exec(query))
        return out;
    while (query.next()) {
        StoredSegment segment;
        segment.text = query.value(0).toString();
        segment.timestamp = ServerDatabase::timeFrom(query.value(1)).value_or(QDateTime());
        if (!query.value(2).isNull())
            segment.speakerLabel = query.value(2).toString();
        out.append(segment);
    }
    return out;
}

int SessionStore::segmentCount(const QString &sessionId) const
{
    QSqlQuery query =
        m_db.prepare(QStringLiteral("SELECT COUNT(*) FROM segments WHERE session_id = ?"));
    query.addBindValue(sessionId);
    if (!m_db.exec(query) || !query.next())
        return 0;
    return query.value(0).toInt();
}

bool SessionStore::saveMemo(const QString &sessionId, const StoredMemo &memo)
{
    QSqlQuery query =
        m_db.prepare(QStringLiteral("INSERT OR REPLACE INTO memos (session_id, created_at, "
                                    "payload, docx) VALUES (?, ?, ?, ?)"));
    query.addBindValue(sessionId);
    query.addBindValue(ServerDatabase::timeText(memo.createdAt));
    query.addBindValue(QString::fromUtf8(memo.payloadJson));
    query.addBindValue(memo.docx);
    return m_db.exec(query);
}

std::optional<StoredMemo> SessionStore::memo(const QString &sessionId) const
{
    QSqlQuery query = m_db.prepare(
        QStringLiteral("SELECT created_at, payload, docx FROM memos WHERE session_id = ?"));
    query.addBindValue(sessionId);
    if (!m_db.exec(query) || !query.next())
        return std::nullopt;
    StoredMemo memo;
    memo.createdAt = ServerDatabase::timeFrom(query.value(0)).value_or(QDateTime());
    memo.payloadJson = query.value(1).toString().toUtf8();
    memo.docx = query.value(2).toByteArray();
    return memo;
}

} // namespace vernalo::server
