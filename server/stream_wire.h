#pragma once

#include <optional>
#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace vernalo::server {

// The live stream's JSON on the server side, read and written with the shared stream records
// (vernalo_wire); only the error texts for frames the records refuse are the server's.

struct ClientStreamMessage
{
    enum class Type { Start, Audio, Stop };
    Type type = Type::Stop;
    QString language;
    qint64 sampleRate = 16000;
    bool enableInterim = true;
    std::optional<qint64> audioOffset; // start of a reopened stream: client bytes sent before
    QByteArray audio; // decoded "audioBase64"
};

// No value, with the reason in *error, for a frame the client's records do not accept.
std::optional<ClientStreamMessage> decodeClientStreamMessage(const QByteArray &text,
                                                             QString *error);

QByteArray encodePartialEvent(const QString &text);
QByteArray encodeFinalEvent(const QString &text, const QDateTime &timestamp,
                            const std::optional<QString> &speakerLabel);
QByteArray encodeStatusEvent(const QString &state, const QString &sttModel);
QByteArray encodeErrorEvent(const QString &message);

} // namespace vernalo::server
