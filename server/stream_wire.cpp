#include "stream_wire.h"

#include "wire/stream_event.h"
#include "wire/stream_messages.h"
#include "wire/wire_coding.h"

#include <QJsonObject>
#include <variant>

namespace vernalo::server {

namespace {

// Why the client's records refused a frame, in words for the client's status line.
QString refusal(const QByteArray &text)
{
    const auto object = wire::parseObject(text);
    if (!object)
        return QStringLiteral("Virheellinen JSON-viesti");
    const QJsonValue type = object->value(QStringLiteral("type"));
    if (!type.isString())
        return QStringLiteral("Viestistä puuttuu tyyppi");
    if (type.toString() == QLatin1String("audio"))
        return QStringLiteral("Virheellinen audioBase64");
    if (type.toString() == QLatin1String("start"))
        return QStringLiteral("Virheellinen aloitusviesti");
    return QStringLiteral("Tuntematon viestityyppi: ") + type.toString();
}

QByteArray compact(const StreamEvent &event)
{
    return wire::compact(event.toJson());
}

} // namespace

std::optional<ClientStreamMessage> decodeClientStreamMessage(const QByteArray &text, QString *error)
{
    const auto parsed = StreamClientMessage::parse(text);
    if (!parsed) {
        *error = refusal(text);
        return std::nullopt;
    }
    ClientStreamMessage message;
    if (const auto *start = std::get_if<StreamStartMessage>(&parsed->value)) {
        message.type = ClientStreamMessage::Type::Start;
        message.language = start->language;
        message.sampleRate = start->sampleRate;
        message.enableInterim = start->enableInterim;
        message.audioOffset = start->audioOffset;
    } else if (const auto *audio = std::get_if<StreamClientMessage::Audio>(&parsed->value)) {
        message.type = ClientStreamMessage::Type::Audio;
        message.audio = audio->pcm;
    } else {
        message.type = ClientStreamMessage::Type::Stop;
    }
    return message;
}

QByteArray encodePartialEvent(const QString &text)
{
    return compact(StreamEvent {StreamEvent::Partial {text}});
}

QByteArray encodeFinalEvent(const QString &text, const QDateTime &timestamp,
                            const std::optional<QString> &speakerLabel)
{
    return compact(StreamEvent {StreamEvent::Final {text, timestamp, speakerLabel}});
}

QByteArray encodeStatusEvent(const QString &state, const QString &sttModel)
{
    return compact(StreamEvent {StreamEvent::Status {state, sttModel}});
}

QByteArray encodeErrorEvent(const QString &message)
{
    return compact(StreamEvent {StreamEvent::Error {message}});
}

} // namespace vernalo::server
