#include "sessions/saved_session.h"

#include "wire/json_fields.h"

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
const QString kText = QStringLiteral("text");
const QString kTimestamp = QStringLiteral("timestamp");
const QString kSpeakerLabel = QStringLiteral("speakerLabel");
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

namespace {

// The fields of a stored session other than its segments, which stay undecoded.
struct SessionHeader
{
    SavedSession session;
    QJsonArray segments;
};

std::optional<SessionHeader> readHeader(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    SessionHeader header;
    header.session.id = reader.requireString("id");
    const double createdAt = reader.requireDouble("createdAt");
    const double endedAt = reader.requireDouble("endedAt");
    header.session.language = reader.requireString("language");
    header.session.sttModel = reader.requireString("sttModel");
    header.segments = reader.requireArray("segments");
    if (reader.ok()) {
        header.session.createdAt = fromReferenceSeconds(createdAt);
        header.session.endedAt = fromReferenceSeconds(endedAt);
        if (!header.session.createdAt.isValid())
            reader.fail(QStringLiteral("createdAt: date out of range"));
        else if (!header.session.endedAt.isValid())
            reader.fail(QStringLiteral("endedAt: date out of range"));
    }
    if (!reader.ok()) {
        if (error)
            *error = reader.error();
        return std::nullopt;
    }
    return header;
}

// Whether TranscriptSegment::fromJson would accept the value with reference-second dates,
// checked without building the segment.
bool isDecodableSegment(const QJsonValue &value)
{
    if (!value.isObject())
        return false;
    const QJsonObject object = value.toObject();
    JsonReader reader(object);
    reader.requireUuid("id");
    if (!reader.ok())
        return false;
    const QJsonValue speaker = object.value(kSpeakerLabel);
    const QJsonValue timestamp = object.value(kTimestamp);
    return object.value(kText).isString() && timestamp.isDouble() &&
        fromReferenceSeconds(timestamp.toDouble()).isValid() &&
        (speaker.isUndefined() || speaker.isNull() || speaker.isString());
}

std::optional<QJsonObject> parseObject(const QByteArray &bytes, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error == QJsonParseError::NoError && document.isObject())
        return document.object();
    if (error) {
        *error = parseError.error != QJsonParseError::NoError
            ? QStringLiteral("JSON: %1 at %2").arg(parseError.errorString()).arg(parseError.offset)
            : QStringLiteral("JSON: not an object");
    }
    return std::nullopt;
}

} // namespace

std::optional<SavedSession> SavedSession::fromJson(const QJsonObject &object, QString *error)
{
    auto header = readHeader(object, error);
    if (!header)
        return std::nullopt;
    SavedSession &session = header->session;
    session.segments.reserve(header->segments.size());
    for (qsizetype i = 0; i < header->segments.size(); ++i) {
        const QJsonValue value = header->segments.at(i);
        QString segmentError = QStringLiteral("expected object");
        std::optional<TranscriptSegment> segment;
        if (value.isObject())
            segment = TranscriptSegment::fromJson(value.toObject(), DateCoding::ReferenceSeconds,
                                                  &segmentError);
        if (!segment) {
            if (error)
                *error = QStringLiteral("segments[%1]: %2").arg(i).arg(segmentError);
            return std::nullopt;
        }
        session.segments.append(std::move(*segment));
    }
    return std::move(session);
}

QByteArray SavedSession::encode() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Indented);
}

std::optional<SavedSession> SavedSession::decode(const QByteArray &bytes, QString *error)
{
    const auto object = parseObject(bytes, error);
    return object ? fromJson(*object, error) : std::nullopt;
}

SavedSessionListItem SavedSessionListItem::from(const SavedSession &session)
{
    return {session.id, session.endedAt, session.language, session.sttModel,
            static_cast<int>(session.segments.size())};
}

std::optional<SavedSessionListItem> SavedSessionListItem::decode(const QByteArray &bytes)
{
    const auto object = parseObject(bytes, nullptr);
    const auto header = object ? readHeader(*object, nullptr) : std::nullopt;
    if (!header)
        return std::nullopt;
    for (const QJsonValue value : header->segments) {
        if (!isDecodableSegment(value))
            return std::nullopt;
    }
    auto item = from(header->session);
    item.segmentCount = static_cast<int>(header->segments.size());
    return item;
}

} // namespace vernalo
