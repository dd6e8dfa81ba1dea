#include "sessions/saved_session.h"

#include "foundation/json_fields.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace vernalo {

namespace {
const QString kId = QStringLiteral("id");
const QString kCreatedAt = QStringLiteral("createdAt");
const QString kEndedAt = QStringLiteral("endedAt");
const QString kLanguage = QStringLiteral("language");
const QString kSttModel = QStringLiteral("sttModel");
const QString kSegments = QStringLiteral("segments");
} // namespace

QJsonObject SavedSession::toJson() const
{
    QJsonArray segmentArray;
    for (const auto &segment : segments)
        segmentArray.append(segment.toJson(DateCoding::ReferenceSeconds));
    // QJsonObject keeps its keys sorted, which is exactly the order the files list them in.
    return {{kId, id},
            {kCreatedAt, toReferenceSeconds(createdAt)},
            {kEndedAt, toReferenceSeconds(endedAt)},
            {kLanguage, language},
            {kSttModel, sttModel},
            {kSegments, segmentArray}};
}

std::optional<SavedSession> SavedSession::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    SavedSession session;
    session.id = reader.requireString("id");
    const double createdAt = reader.requireDouble("createdAt");
    const double endedAt = reader.requireDouble("endedAt");
    session.language = reader.requireString("language");
    session.sttModel = reader.requireString("sttModel");
    const QJsonArray segmentArray = reader.requireArray("segments");
    if (reader.ok()) {
        session.createdAt = fromReferenceSeconds(createdAt);
        session.endedAt = fromReferenceSeconds(endedAt);
        session.segments.reserve(segmentArray.size());
        for (qsizetype i = 0; i < segmentArray.size() && reader.ok(); ++i) {
            const QJsonValue value = segmentArray.at(i);
            QString segmentError;
            std::optional<TranscriptSegment> segment;
            if (value.isObject())
                segment = TranscriptSegment::fromJson(value.toObject(), DateCoding::ReferenceSeconds,
                                                      &segmentError);
            else
                segmentError = QStringLiteral("expected object");
            if (segment)
                session.segments.append(std::move(*segment));
            else
                reader.fail(QStringLiteral("segments[%1]: %2").arg(i).arg(segmentError));
        }
    }
    if (!reader.ok()) {
        if (error)
            *error = reader.error();
        return std::nullopt;
    }
    return session;
}

QByteArray SavedSession::encode() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Indented);
}

std::optional<SavedSession> SavedSession::decode(const QByteArray &bytes, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        if (error)
            *error = parseError.error != QJsonParseError::NoError
                ? QStringLiteral("JSON: %1 at %2").arg(parseError.errorString()).arg(parseError.offset)
                : QStringLiteral("JSON: not an object");
        return std::nullopt;
    }
    return fromJson(document.object(), error);
}

SavedSessionListItem SavedSessionListItem::from(const SavedSession &session)
{
    return {session.id, session.endedAt, session.language, session.sttModel,
            static_cast<int>(session.segments.size())};
}

} // namespace vernalo
