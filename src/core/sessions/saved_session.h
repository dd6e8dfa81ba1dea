#pragma once

#include "foundation/models.h"

#include <optional>
#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace vernalo {

// One finished recording as the history keeps it; `id` is the backend session ID and the stem
// of its file. Dates are written as seconds since 2001-01-01 UTC.
struct SavedSession
{
    QString id;
    QDateTime createdAt;
    QDateTime endedAt;
    QString language;
    QString sttModel;
    QList<TranscriptSegment> segments;

    bool operator==(const SavedSession &other) const = default;

    QJsonObject toJson() const;
    // Every field is required; one bad segment fails the whole record.
    static std::optional<SavedSession> fromJson(const QJsonObject &object,
                                                QString *error = nullptr);

    // The history file's bytes: indented, keys sorted at every level.
    QByteArray encode() const;
    static std::optional<SavedSession> decode(const QByteArray &bytes, QString *error = nullptr);
};

// A row of the session picker, derived from a stored session and never stored itself.
struct SavedSessionListItem
{
    QString id;
    QDateTime endedAt;
    QString language;
    QString sttModel;
    int segmentCount = 0;

    bool operator==(const SavedSessionListItem &other) const = default;

    static SavedSessionListItem from(const SavedSession &session);
    // The row of a history file, when the file decodes as a SavedSession. Applies every rule
    // of SavedSession::decode but keeps no segment, so a long history lists quickly.
    static std::optional<SavedSessionListItem> decode(const QByteArray &bytes);
};

} // namespace vernalo
