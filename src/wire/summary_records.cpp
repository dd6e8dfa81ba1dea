#include "wire/summary_records.h"

#include "wire/json_fields.h"
#include "wire/wire_coding.h"

namespace vernalo {

using wire::insertOptional;

QJsonObject SummaryGenerateRequest::Segment::toJson() const
{
    QJsonObject object {{QStringLiteral("text"), text}, {QStringLiteral("ts"), ts}};
    insertOptional(object, "speakerLabel", speakerLabel);
    return object;
}

std::optional<SummaryGenerateRequest::Segment>
SummaryGenerateRequest::Segment::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    Segment segment;
    segment.text = reader.requireString("text");
    segment.ts = reader.requireString("ts");
    segment.speakerLabel = reader.optionalString("speakerLabel");
    return wire::finish(reader, segment, error);
}

QJsonObject SummaryGenerateRequest::toJson() const
{
    return {{QStringLiteral("transcriptSegments"), wire::writeList(transcriptSegments)}};
}

std::optional<SummaryGenerateRequest> SummaryGenerateRequest::fromJson(const QJsonObject &object,
                                                                       QString *error)
{
    JsonReader reader(object);
    SummaryGenerateRequest request;
    const QJsonArray segments = reader.requireArray("transcriptSegments");
    request.transcriptSegments = wire::readList<Segment>(reader, "transcriptSegments", segments);
    return wire::finish(reader, request, error);
}

QJsonObject SummaryPayload::Content::toJson() const
{
    QJsonObject object;
    insertOptional(object, "memoType", memoType);
    insertOptional(object, "confidence", confidence);
    insertOptional(object, "title", title);
    insertOptional(object, "summary", summary);
    insertOptional(object, "cleanTranscript", cleanTranscript);
    return object;
}

std::optional<SummaryPayload::Content> SummaryPayload::Content::fromJson(const QJsonObject &object,
                                                                         QString *error)
{
    JsonReader reader(object);
    Content content;
    content.memoType = reader.optionalString("memoType");
    content.confidence = reader.optionalDouble("confidence");
    content.title = reader.optionalString("title");
    content.summary = reader.optionalString("summary");
    content.cleanTranscript = reader.optionalString("cleanTranscript");
    return wire::finish(reader, content, error);
}

QJsonObject SummaryPayload::toJson() const
{
    return {{QStringLiteral("sessionId"), sessionId},
            {QStringLiteral("createdAt"), createdAt},
            {QStringLiteral("summary"), summary.toJson()}};
}

std::optional<SummaryPayload> SummaryPayload::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    SummaryPayload payload;
    payload.sessionId = reader.requireString("sessionId");
    payload.createdAt = reader.requireString("createdAt");
    if (reader.ok() && !reader.has("summary"))
        reader.fail(QStringLiteral("summary: missing"));
    if (auto content = wire::readOptionalObject<Content>(reader, "summary"))
        payload.summary = *content;
    return wire::finish(reader, payload, error);
}

} // namespace vernalo
