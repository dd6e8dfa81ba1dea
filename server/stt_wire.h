#pragma once

#include "session_store.h"
#include "wire/session_records.h"
#include "wire/summary_records.h"

#include <optional>
#include <QJsonObject>
#include <QString>

namespace vernalo::server {

// The STT REST interface's JSON on the server side: the shared wire records (vernalo_wire), filled
// from and read into the server's records.

struct SessionCreateParams
{
    QString language = QStringLiteral("fi-FI");
    bool enableInterim = true;
    QString sttModel = QStringLiteral("chirp_3");
    bool enableSpeakerDiarization = false;
    int speakerCount = 0;
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
std::optional<QList<SummaryGenerateRequest::Segment>>
decodeSummaryRequest(const QJsonObject &object, QString *error);

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
