#include "stt_wire.h"

#include "foundation/json_fields.h"

#include <QJsonArray>

namespace vernalo::server {

std::optional<SessionCreateParams> decodeSessionCreateRequest(const QJsonObject &object,
                                                              QString *error)
{
    JsonReader reader(object);
    SessionCreateParams params;
    if (auto language = reader.optionalString("language");
        language && !language->trimmed().isEmpty())
        params.language = language->trimmed();
    params.enableInterim = reader.optionalBool("enableInterim").value_or(params.enableInterim);
    if (auto model = reader.optionalString("sttModel"); model && !model->trimmed().isEmpty())
        params.sttModel = model->trimmed();
    params.enableSpeakerDiarization =
        reader.optionalBool("enableSpeakerDiarization").value_or(false);
    params.speakerCount = static_cast<int>(reader.optionalInt("speakerCount").value_or(0));
    if (!reader.ok()) {
        *error = reader.error();
        return std::nullopt;
    }
    if (params.speakerCount < 0 || params.speakerCount > 32) {
        *error = QStringLiteral("speakerCount must be between 0 and 32");
        return std::nullopt;
    }
    return params;
}

std::optional<QList<SummarySegmentInput>> decodeSummaryRequest(const QJsonObject &object,
                                                               QString *error)
{
    JsonReader reader(object);
    QList<SummarySegmentInput> segments;
    const QJsonArray items = reader.optionalArray("transcriptSegments").value_or(QJsonArray());
    for (const QJsonValue &item : items) {
        if (!item.isObject()) {
            *error = QStringLiteral("transcriptSegments must hold objects");
            return std::nullopt;
        }
        JsonReader segmentReader(item.toObject());
        SummarySegmentInput segment;
        segment.text = segmentReader.requireString("text");
        segment.ts = segmentReader.optionalString("ts").value_or(QString());
        segment.speakerLabel = segmentReader.optionalString("speakerLabel");
        if (!segmentReader.ok()) {
            *error = segmentReader.error();
            return std::nullopt;
        }
        segments.append(segment);
    }
    if (!reader.ok()) {
        *error = reader.error();
        return std::nullopt;
    }
    return segments;
}

QJsonObject encodeSessionCreateResponse(const QString &sessionId, const QString &wsUrl,
                                        const QString &token)
{
    return {{QStringLiteral("sessionId"), sessionId},
            {QStringLiteral("wsUrl"), wsUrl},
            {QStringLiteral("token"), token}};
}

QJsonObject encodeSessionMeta(const SessionRecord &s, int segmentCount)
{
    QJsonObject object {
        {QStringLiteral("id"), s.id},
        {QStringLiteral("status"), s.status},
        {QStringLiteral("createdAt"), toIso8601(s.createdAt)},
    };
    if (s.endedAt)
        object.insert(QStringLiteral("endedAt"), toIso8601(*s.endedAt));
    object.insert(QStringLiteral("language"), s.language);
    object.insert(QStringLiteral("sttModel"), s.sttModel);
    object.insert(QStringLiteral("audioFrameCount"), s.audioFrameCount);
    object.insert(QStringLiteral("audioBytes"), s.audioBytes);
    object.insert(QStringLiteral("avgAudioLevel"), s.averageLevel());
    object.insert(QStringLiteral("peakAudioLevel"), s.peakLevel);
    object.insert(QStringLiteral("interimCount"), s.interimCount);
    object.insert(QStringLiteral("finalCount"), s.finalCount);
    object.insert(QStringLiteral("segmentCount"), segmentCount);
    if (s.lastError) {
        object.insert(QStringLiteral("lastSttError"),
                      QJsonObject {{QStringLiteral("at"), toIso8601(s.lastError->at)},
                                   {QStringLiteral("code"), s.lastError->code},
                                   {QStringLiteral("message"), s.lastError->message}});
    }
    return object;
}

QJsonObject encodeSessionList(const QList<QJsonObject> &items)
{
    QJsonArray array;
    for (const QJsonObject &item : items)
        array.append(item);
    return {{QStringLiteral("items"), array}};
}

QJsonObject encodeTranscript(const QString &sessionId, const QList<StoredSegment> &segments)
{
    QJsonArray array;
    for (const StoredSegment &segment : segments) {
        QJsonObject item {{QStringLiteral("text"), segment.text},
                          {QStringLiteral("ts"), toIso8601(segment.timestamp)}};
        if (segment.speakerLabel)
            item.insert(QStringLiteral("speakerLabel"), *segment.speakerLabel);
        array.append(item);
    }
    return {{QStringLiteral("sessionId"), sessionId}, {QStringLiteral("segments"), array}};
}

QJsonObject encodeHealth(const QDateTime &now, const QString &memoModel,
                         const QString &recognizerModel)
{
    return {
        {QStringLiteral("ok"), true},
        {QStringLiteral("time"), toIso8601(now)},
        {QStringLiteral("memoAI"),
         QJsonObject {{QStringLiteral("configured"), true}, {QStringLiteral("model"), memoModel}}},
        {QStringLiteral("recognizer"), recognizerModel}};
}

QJsonObject encodeSummaryPayload(const QString &sessionId, const QDateTime &createdAt,
                                 const MemoContent &content)
{
    return {{QStringLiteral("sessionId"), sessionId},
            {QStringLiteral("createdAt"), toIso8601(createdAt)},
            {QStringLiteral("summary"),
             QJsonObject {{QStringLiteral("memoType"), content.memoType},
                          {QStringLiteral("confidence"), content.confidence},
                          {QStringLiteral("title"), content.title},
                          {QStringLiteral("summary"), content.summary},
                          {QStringLiteral("cleanTranscript"), content.cleanTranscript}}}};
}

} // namespace vernalo::server
