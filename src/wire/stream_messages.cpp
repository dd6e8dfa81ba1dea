#include "wire/stream_messages.h"

#include "wire/json_fields.h"
#include "wire/wire_coding.h"

namespace vernalo {

QJsonObject StreamStartMessage::toJson() const
{
    QJsonObject object {{QStringLiteral("type"), QStringLiteral("start")},
                        {QStringLiteral("language"), language},
                        {QStringLiteral("sampleRate"), sampleRate},
                        {QStringLiteral("enableInterim"), enableInterim},
                        {QStringLiteral("sttModel"), sttModel},
                        {QStringLiteral("enableSpeakerDiarization"), enableSpeakerDiarization},
                        {QStringLiteral("speakerCount"), speakerCount}};
    if (audioOffset)
        object.insert(QStringLiteral("audioOffset"), *audioOffset);
    return object;
}

std::optional<StreamStartMessage> StreamStartMessage::fromJson(const QJsonObject &object,
                                                               QString *error)
{
    JsonReader reader(object);
    StreamStartMessage message;
    message.language = reader.requireString("language");
    message.sampleRate = reader.requireInt("sampleRate");
    message.enableInterim = reader.requireBool("enableInterim");
    message.sttModel = reader.requireString("sttModel");
    message.enableSpeakerDiarization = reader.requireBool("enableSpeakerDiarization");
    message.speakerCount = reader.requireInt("speakerCount");
    message.audioOffset = reader.optionalInt("audioOffset");
    if (message.audioOffset && *message.audioOffset < 0)
        reader.fail(QStringLiteral("audioOffset < 0"));
    return wire::finish(reader, message, error);
}

QByteArray StreamClientMessage::startFrame(const QString &language, const QString &sttModel,
                                           std::optional<qint64> audioOffset)
{
    StreamStartMessage message;
    message.language = language;
    message.sttModel = sttModel;
    message.audioOffset = audioOffset;
    return wire::compact(message.toJson());
}

QByteArray StreamClientMessage::stopFrame()
{
    return wire::compact({{QStringLiteral("type"), QStringLiteral("stop")}});
}

QByteArray StreamClientMessage::audioFrame(const QByteArray &pcm)
{
    return wire::compact({{QStringLiteral("type"), QStringLiteral("audio")},
                          {QStringLiteral("audioBase64"), QString::fromLatin1(pcm.toBase64())}});
}

std::optional<StreamClientMessage> StreamClientMessage::parse(const QByteArray &utf8)
{
    const auto object = wire::parseObject(utf8);
    if (!object)
        return std::nullopt;
    const QJsonValue type = object->value(QStringLiteral("type"));
    if (type == QStringLiteral("start")) {
        if (auto start = StreamStartMessage::fromJson(*object))
            return StreamClientMessage {*start};
        return std::nullopt;
    }
    if (type == QStringLiteral("stop"))
        return StreamClientMessage {Stop {}};
    if (type == QStringLiteral("audio")) {
        const QJsonValue encoded = object->value(QStringLiteral("audioBase64"));
        if (!encoded.isString())
            return std::nullopt;
        auto decoded = QByteArray::fromBase64Encoding(encoded.toString().toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        return StreamClientMessage {Audio {*decoded}};
    }
    return std::nullopt;
}

} // namespace vernalo
