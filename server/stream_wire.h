#pragma once

#include "recognizer.h"

#include <optional>
#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

namespace vernalo::server {

// JSON messages of the live stream, in both directions. Kept in this one file so it can follow
// the client's stream records closely.

struct StreamStartMessage
{
    std::optional<QString> language;
    std::optional<qint64> sampleRate;
    std::optional<bool> enableInterim;
    std::optional<QString> sttModel;
};

struct ClientStreamMessage
{
    enum class Type { Start, Audio, Stop, Unknown };
    Type type = Type::Unknown;
    QString typeName;
    StreamStartMessage start;
    QByteArray audio; // decoded "audioBase64"
};

// No value with *error for text that is not a JSON object with a string "type", a start whose
// fields have the wrong types, or audio whose Base64 does not decode.
std::optional<ClientStreamMessage> decodeClientStreamMessage(const QByteArray &text,
                                                             QString *error);

QByteArray encodePartialEvent(const QString &text);
QByteArray encodeFinalEvent(const QString &text, const QDateTime &timestamp,
                            const std::optional<QString> &speakerLabel);
QByteArray encodeStatusEvent(const QString &state, const QString &sttModel);
QByteArray encodeErrorEvent(const QString &message);

} // namespace vernalo::server
