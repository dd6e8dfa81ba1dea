#include "stt_wire.h"

#include "wire/health_response.h"
#include "wire/json_fields.h"
#include "wire/session_records.h"
#include "wire/summary_records.h"

namespace vernalo::server {

std::optional<SessionCreateParams> decodeSessionCreateRequest(const QJsonObject &object,
                                                              QString *error)
{
    const auto request = STTSessionCreateRequest::fromJson(object, error);
    if (!request)
        return std::nullopt;
    SessionCreateParams params;
    if (!request->language.trimmed().isEmpty())
        params.language = request->language.trimmed();
    if (!request->sttModel.trimmed().isEmpty())
        params.sttModel = request->sttModel.trimmed();
    params.enableInterim = request->enableInterim;
    params.enableSpeakerDiarization = request->enableSpeakerDiarization;
    if (request->speakerCount < 0 || request->speakerCount > 32) {
        *error = QStringLiteral("speakerCount must be between 0 and 32");
        return std::nullopt;
    }
    params.speakerCount = static_cast<int>(request->speakerCount);
    return params;
}

std::optional<QList<SummaryGenerateRequest::Segment>>
decodeSummaryRequest(const QJsonObject &object, QString *error)
{
    // The client sends no body at all when it has no segments of its own.
    if (object.isEmpty())
        return QList<SummaryGenerateRequest::Segment>();
    const auto request = SummaryGenerateRequest::fromJson(object, error);
    if (!request)
        return std::nullopt;
    return request->transcriptSegments;
}

QJsonObject encodeSessionCreateResponse(const QString &sessionId, const QString &wsUrl,
                                        const QString &token)
{
    return STTSessionCreateResponse {sessionId, wsUrl, token}.toJson();
}

SessionMetaResponse toSessionMetaResponse(const SessionRecord &s, int segmentCount)
{
    SessionMetaResponse meta;
    meta.id = s.id;
    meta.status = s.status;
    meta.createdAt = toIso8601(s.createdAt);
    if (s.endedAt)
        meta.endedAt = toIso8601(*s.endedAt);
    meta.language = s.language;
    meta.sttModel = s.sttModel;
    meta.audioFrameCount = s.audioFrameCount;
    meta.audioBytes = s.audioBytes;
    meta.avgAudioLevel = s.averageLevel();
    meta.peakAudioLevel = s.peakLevel;
    meta.interimCount = s.interimCount;
    meta.finalCount = s.finalCount;
    meta.segmentCount = segmentCount;
    if (s.lastError)
        meta.lastSttError = SessionMetaResponse::SessionErrorInfo {
            toIso8601(s.lastError->at), s.lastError->code, s.lastError->message};
    return meta;
}

QJsonObject encodeSessionMeta(const SessionRecord &session, int segmentCount)
{
    return toSessionMetaResponse(session, segmentCount).toJson();
}

QJsonObject encodeSessionList(const QList<SessionMetaResponse> &items)
{
    return SessionListResponse {items}.toJson();
}

QJsonObject encodeTranscript(const QString &sessionId, const QList<StoredSegment> &segments)
{
    ServerTranscriptResponse response;
    response.sessionId = sessionId;
    for (const StoredSegment &segment : segments)
        response.segments.append(
            {segment.text, toIso8601(segment.timestamp), segment.speakerLabel});
    return response.toJson();
}

QJsonObject encodeHealth(const QDateTime &now, const QString &memoModel,
                         const QString &recognizerModel)
{
    HealthResponse health;
    health.ok = true;
    health.time = toIso8601(now);
    health.memoAI = HealthResponse::MemoAIStatus {true, memoModel};
    QJsonObject object = health.toJson();
    // Not read by the client; tells a person which recognizer answers.
    object.insert(QStringLiteral("recognizer"), recognizerModel);
    return object;
}

QJsonObject encodeSummaryPayload(const QString &sessionId, const QDateTime &createdAt,
                                 const MemoContent &content)
{
    SummaryPayload payload;
    payload.sessionId = sessionId;
    payload.createdAt = toIso8601(createdAt);
    payload.summary = SummaryPayload::Content {content.memoType, content.confidence, content.title,
                                               content.summary, content.cleanTranscript};
    return payload.toJson();
}

} // namespace vernalo::server
