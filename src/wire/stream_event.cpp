#include "wire/stream_event.h"

#include "wire/json_fields.h"
#include "wire/wire_coding.h"

#include <QRegularExpression>

namespace vernalo {

namespace {

std::optional<QString> stringField(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

} // namespace

std::optional<QDateTime> parseInternetDateTime(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:(Z)|([+-])(\d{2}):?(\d{2}))$)"));
    const auto match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(),
                     match.captured(3).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(),
                     match.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    if (match.captured(7).isEmpty()) {
        const int hours = match.captured(9).toInt();
        const int minutes = match.captured(10).toInt();
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 3600 + minutes * 60) * (match.captured(8) == u'-' ? -1 : 1);
    }
    const QDateTime utc = QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
    // An offset can carry the time past year 9999 or before year 1, where it has no text form.
    if (!isWritableDate(utc))
        return std::nullopt;
    return utc;
}

std::optional<StreamEvent> StreamEvent::parse(const QByteArray &utf8, const QDateTime &now)
{
    const auto object = wire::parseObject(utf8);
    if (!object)
        return std::nullopt;
    const auto type = stringField(*object, "type");
    if (!type)
        return std::nullopt;

    if (*type == u"partial")
        return StreamEvent {Partial {stringField(*object, "text").value_or(QString())}};
    if (*type == u"final") {
        QDateTime timestamp = now;
        if (const auto ts = stringField(*object, "ts")) {
            if (const auto parsed = parseInternetDateTime(*ts))
                timestamp = *parsed;
        }
        return StreamEvent {Final {stringField(*object, "text").value_or(QString()), timestamp,
                                   stringField(*object, "speakerLabel")}};
    }
    if (*type == u"status")
        return StreamEvent {Status {stringField(*object, "state").value_or(QString()),
                                    stringField(*object, "sttModel")}};
    if (*type == u"error")
        return StreamEvent {
            Error {stringField(*object, "message").value_or(QStringLiteral("Tuntematon virhe"))}};
    return std::nullopt;
}

QJsonObject StreamEvent::toJson() const
{
    QJsonObject object;
    if (const auto *event = partial()) {
        object.insert(QStringLiteral("type"), QStringLiteral("partial"));
        object.insert(QStringLiteral("text"), event->text);
    } else if (const auto *event = final()) {
        object.insert(QStringLiteral("type"), QStringLiteral("final"));
        object.insert(QStringLiteral("text"), event->text);
        object.insert(QStringLiteral("ts"), event->timestamp.toUTC().toString(Qt::ISODate));
        wire::insertOptional(object, "speakerLabel", event->speakerLabel);
    } else if (const auto *event = status()) {
        object.insert(QStringLiteral("type"), QStringLiteral("status"));
        object.insert(QStringLiteral("state"), event->state);
        wire::insertOptional(object, "sttModel", event->model);
    } else if (const auto *event = error()) {
        object.insert(QStringLiteral("type"), QStringLiteral("error"));
        object.insert(QStringLiteral("message"), event->message);
    }
    return object;
}

} // namespace vernalo
