#pragma once

#include <optional>
#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <variant>

namespace vernalo {

// One message of the live stream from the server, as the recording controller receives it.
struct StreamEvent
{
    struct Partial
    {
        QString text;
        bool operator==(const Partial &) const = default;
    };
    struct Final
    {
        QString text;
        QDateTime timestamp;
        std::optional<QString> speakerLabel;
        bool operator==(const Final &) const = default;
    };
    struct Status
    {
        QString state;
        std::optional<QString> model;
        bool operator==(const Status &) const = default;
    };
    struct Error
    {
        QString message;
        bool operator==(const Error &) const = default;
    };

    std::variant<Partial, Final, Status, Error> value;

    bool operator==(const StreamEvent &) const = default;

    const Partial *partial() const { return std::get_if<Partial>(&value); }
    const Final * final() const { return std::get_if<Final>(&value); }
    const Status *status() const { return std::get_if<Status>(&value); }
    const Error *error() const { return std::get_if<Error>(&value); }
    // "partial" and "final" carry recognised text; they count as transcript events.
    bool isTranscript() const { return partial() || final(); }

    // Parses one server frame of UTF-8 JSON. Anything that is not an object with a known string
    // "type" gives no event; missing or mistyped fields take their defaults. A "final" without
    // a valid "ts" is stamped with `now`.
    static std::optional<StreamEvent> parse(const QByteArray &utf8, const QDateTime &now);

    // The frame a server sends for this event; a final's time is written to the second, in UTC.
    QJsonObject toJson() const;
};

// The internet date-time form the stream uses: "2026-03-01T10:20:30Z" or with a numeric offset
// ("+02:00"); fractional seconds are not accepted.
std::optional<QDateTime> parseInternetDateTime(const QString &text);

} // namespace vernalo
