#pragma once

#include "session_store.h"

#include <optional>
#include <QJsonObject>
#include <QString>

namespace vernalo::server {

// JSON of the STT REST interface as the server writes and reads it. Kept in this one file so
// it can follow the client's records closely.

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

// Missing fields take the defaults above; a present field of the wrong type fails with *error.
std::optional<SessionCreateParams> decodeSessionCreateRequest(const QJsonObject &object,
                                                              QString *error);
// "transcriptSegments" is optional; each segment needs a string "text".
std::optional<QList<SummarySegmentInput>> decodeSummaryRequest(const QJsonObject &object,
                                                               QString *error);

QJsonObject encodeSessionCreateResponse(const QString &sessionId, const QString &wsUrl,
                                        const QString &token);
QJsonObject encodeSessionMeta(const SessionRecord &session, int segmentCount);
QJsonObject encodeSessionList(const QList<QJsonObject> &items);
QJsonObject encodeTranscript(const QString &sessionId, const QList<StoredSegment> &segments);
QJsonObject encodeHealth(const QDateTime &now, const QString &memoModel,
                         const QString &recognizerModel);
QJsonObject encodeSummaryPayload(const QString &sessionId, const QDateTime &createdAt,
                                 const MemoContent &content);

} // namespace vernalo::server
