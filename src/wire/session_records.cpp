#include "wire/session_records.h"

#include "wire/json_fields.h"
#include "wire/wire_coding.h"

namespace vernalo {

using wire::insertOptional;

QJsonObject STTSessionCreateRequest::toJson() const
{
    return {{QStringLiteral("language"), language},
            {QStringLiteral("enableInterim"), enableInterim},
            {QStringLiteral("sttModel"), sttModel},
            {QStringLiteral("enableSpeakerDiarization"), enableSpeakerDiarization},
            {QStringLiteral("speakerCount"), speakerCount}};
}

std::optional<STTSessionCreateRequest> STTSessionCreateRequest::fromJson(const QJsonObject &object,
                                                                         QString *error)
{
    JsonReader reader(object);
    STTSessionCreateRequest request;
    request.language = reader.requireString("language");
    request.enableInterim = reader.requireBool("enableInterim");
    request.sttModel = reader.requireString("sttModel");
    request.enableSpeakerDiarization = reader.requireBool("enableSpeakerDiarization");
    request.speakerCount = reader.requireInt("speakerCount");
    return wire::finish(reader, request, error);
}

QJsonObject STTSessionCreateResponse::toJson() const
{
    return {{QStringLiteral("sessionId"), sessionId},
            {QStringLiteral("wsUrl"), wsUrl},
            {QStringLiteral("token"), token}};
}

std::optional<STTSessionCreateResponse>
STTSessionCreateResponse::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    STTSessionCreateResponse response;
    response.sessionId = reader.requireString("sessionId");
    response.wsUrl = reader.requireString("wsUrl");
    response.token = reader.requireString("token");
    return wire::finish(reader, response, error);
}

QJsonObject ServerTranscriptResponse::Segment::toJson() const
{
    QJsonObject object {{QStringLiteral("text"), text}};
    insertOptional(object, "ts", ts);
    insertOptional(object, "speakerLabel", speakerLabel);
    return object;
}

std::optional<ServerTranscriptResponse::Segment>
ServerTranscriptResponse::Segment::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    Segment segment;
    segment.text = reader.requireString("text");
    segment.ts = reader.optionalString("ts");
    segment.speakerLabel = reader.optionalString("speakerLabel");
    return wire::finish(reader, segment, error);
}

QJsonObject ServerTranscriptResponse::toJson() const
{
    return {{QStringLiteral("sessionId"), sessionId},
            {QStringLiteral("segments"), wire::writeList(segments)}};
}

std::optional<ServerTranscriptResponse>
ServerTranscriptResponse::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    ServerTranscriptResponse response;
    response.sessionId = reader.requireString("sessionId");
    const QJsonArray segments = reader.requireArray("segments");
    response.segments = wire::readList<Segment>(reader, "segments", segments);
    return wire::finish(reader, response, error);
}

QJsonObject SessionMetaResponse::SessionErrorInfo::toJson() const
{
    QJsonObject object;
    insertOptional(object, "at", at);
    insertOptional(object, "code", code);
    insertOptional(object, "message", message);
    return object;
}

std::optional<SessionMetaResponse::SessionErrorInfo>
SessionMetaResponse::SessionErrorInfo::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    SessionErrorInfo info;
    info.at = reader.optionalString("at");
    info.code = reader.optionalInt("code");
    info.message = reader.optionalString("message");
    return wire::finish(reader, info, error);
}

QJsonObject SessionMetaResponse::toJson() const
{
    QJsonObject object;
    insertOptional(object, "id", id);
    insertOptional(object, "status", status);
    insertOptional(object, "createdAt", createdAt);
    insertOptional(object, "endedAt", endedAt);
    insertOptional(object, "language", language);
    insertOptional(object, "sttModel", sttModel);
    insertOptional(object, "audioFrameCount", audioFrameCount);
    insertOptional(object, "audioBytes", audioBytes);
    insertOptional(object, "avgAudioLevel", avgAudioLevel);
    insertOptional(object, "peakAudioLevel", peakAudioLevel);
    insertOptional(object, "interimCount", interimCount);
    insertOptional(object, "finalCount", finalCount);
    insertOptional(object, "segmentCount", segmentCount);
    if (lastSttError)
        object.insert(QStringLiteral("lastSttError"), lastSttError->toJson());
    return object;
}

std::optional<SessionMetaResponse> SessionMetaResponse::fromJson(const QJsonObject &object,
                                                                 QString *error)
{
    JsonReader reader(object);
    SessionMetaResponse meta;
    meta.id = reader.optionalString("id");
    meta.status = reader.optionalString("status");
    meta.createdAt = reader.optionalString("createdAt");
    meta.endedAt = reader.optionalString("endedAt");
    meta.language = reader.optionalString("language");
    meta.sttModel = reader.optionalString("sttModel");
    meta.audioFrameCount = reader.optionalInt("audioFrameCount");
    meta.audioBytes = reader.optionalInt("audioBytes");
    meta.avgAudioLevel = reader.optionalDouble("avgAudioLevel");
    meta.peakAudioLevel = reader.optionalDouble("peakAudioLevel");
    meta.interimCount = reader.optionalInt("interimCount");
    meta.finalCount = reader.optionalInt("finalCount");
    meta.segmentCount = reader.optionalInt("segmentCount");
    meta.lastSttError = wire::readOptionalObject<SessionErrorInfo>(reader, "lastSttError");
    return wire::finish(reader, meta, error);
}

QJsonObject SessionListResponse::toJson() const
{
    return {{QStringLiteral("items"), wire::writeList(items)}};
}

std::optional<SessionListResponse> SessionListResponse::fromJson(const QJsonObject &object,
                                                                 QString *error)
{
    JsonReader reader(object);
    SessionListResponse response;
    const QJsonArray items = reader.requireArray("items");
    response.items = wire::readList<SessionMetaResponse>(reader, "items", items);
    return wire::finish(reader, response, error);
}

} // namespace vernalo
