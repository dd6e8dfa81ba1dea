#include "stream_wire.h"

#include "foundation/json_fields.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace vernalo::server {

std::optional<ClientStreamMessage> decodeClientStreamMessage(const QByteArray &text, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        *error = QStringLiteral("Virheellinen JSON-viesti");
        return std::nullopt;
    }
    JsonReader reader(document.object());
    ClientStreamMessage message;
    message.typeName = reader.requireString("type");
    if (!reader.ok()) {
        *error = QStringLiteral("Viestistä puuttuu tyyppi");
        return std::nullopt;
    }
    if (message.typeName == QLatin1String("start")) {
        message.type = ClientStreamMessage::Type::Start;
        message.start.language = reader.optionalString("language");
        message.start.sampleRate = reader.optionalInt("sampleRate");
        message.start.enableInterim = reader.optionalBool("enableInterim");
        message.start.sttModel = reader.optionalString("sttModel");
    } else if (message.typeName == QLatin1String("audio")) {
        message.type = ClientStreamMessage::Type::Audio;
        const QString encoded = reader.requireString("audioBase64");
        if (reader.ok()) {
            auto decoded = QByteArray::fromBase64Encoding(encoded.toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded) {
                *error = QStringLiteral("Virheellinen audioBase64");
                return std::nullopt;
            }
            message.audio = decoded.decoded;
        }
    } else if (message.typeName == QLatin1String("stop")) {
        message.type = ClientStreamMessage::Type::Stop;
    }
    if (!reader.ok()) {
        *error = QStringLiteral("Virheellinen viesti: ") + reader.error();
        return std::nullopt;
    }
    return message;
}

namespace {
QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
} // namespace

QByteArray encodePartialEvent(const QString &text)
{
    return compact(
        {{QStringLiteral("type"), QStringLiteral("partial")}, {QStringLiteral("text"), text}});
}

QByteArray encodeFinalEvent(const QString &text, const QDateTime &timestamp,
                            const std::optional<QString> &speakerLabel)
{
    QJsonObject object {{QStringLiteral("type"), QStringLiteral("final")},
                        {QStringLiteral("text"), text},
                        {QStringLiteral("ts"), toIso8601(timestamp)}};
    if (speakerLabel)
        object.insert(QStringLiteral("speakerLabel"), *speakerLabel);
    return compact(object);
}

QByteArray encodeStatusEvent(const QString &state, const QString &sttModel)
{
    return compact({{QStringLiteral("type"), QStringLiteral("status")},
                    {QStringLiteral("state"), state},
                    {QStringLiteral("sttModel"), sttModel}});
}

QByteArray encodeErrorEvent(const QString &message)
{
    return compact(
        {{QStringLiteral("type"), QStringLiteral("error")}, {QStringLiteral("message"), message}});
}

} // namespace vernalo::server
