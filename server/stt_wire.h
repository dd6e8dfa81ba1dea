#pragma once

#include "backend/session_records.h"
#include "session_store.h"

#include <optional>
#include <QJsonObject>
#include <QString>

namespace vernalo::server {

// The STT REST interface's JSON on the server side: the client's own wire records, filled from
// and read into the server's records.

struct SessionCreateParams
{
    QString language = QStringLiteral("fi-FI");
    bool enableInterim = true;
    QString sttModel = QStringLiteral("chirp_3");
    bool enableSpeakerDiarization = false;
    int speakerCount = 0;
};

struct SummarySegmentInput
{
    QString text;
    QString ts;
    std::optional<QString> speakerLabel;
};

struct MemoContent
{
    QString memoType;
    double confidence = 0.0;
    QString title;
    QString summary;
    QString cleanTranscript;
};

// The client's record, read strictly; an empty language or model takes the default above.
std::optional<SessionCreateParams> decodeSessionCreateRequest(const QJsonObject &object,
                                                              QString *error);
// An empty object (no body) means no segments; otherwise the client's record, read strictly.
std::optional<QList<SummarySegmentInput>> decodeSummaryRequest(const QJsonObject &object,
                                                               QString *error);

QJsonObject encodeSessionCreateResponse(const QString &sessionId, const QString &wsUrl,
                                        const QString &token);
QJsonObject encodeSessionMeta(const SessionRecord &session, int segmentCount);
SessionMetaResponse toSessionMetaResponse(const SessionRecord &session, int segmentCount);
QJsonObject encodeSessionList(const QList<SessionMetaResponse> &items);
QJsonObject encodeTranscript(const QString &sessionId, const QList<StoredSegment> &segments);
QJsonObject encodeHealth(const QDateTime &now, const QString &memoModel,
                         const QString &recognizerModel);
QJsonObject encodeSummaryPayload(const QString &sessionId, const QDateTime &createdAt,
                                 const MemoContent &content);

} // namespace vernalo::server
