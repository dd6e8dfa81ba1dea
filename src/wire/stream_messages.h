#pragma once

#include <optional>
#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <variant>

namespace vernalo {

// The stream's opening message: what the client will send and how it wants results.
struct StreamStartMessage
{
    QString language;
    qint64 sampleRate = 16000;
    bool enableInterim = true;
    QString sttModel;
    bool enableSpeakerDiarization = false;
    qint64 speakerCount = 0;
    // Only on a reopened stream: how many bytes of the session's audio the client had sent
    // before the first chunk that follows, so a server can skip what it already holds.
    std::optional<qint64> audioOffset;

    bool operator==(const StreamStartMessage &) const = default;
    QJsonObject toJson() const; // includes "type": "start"
    static std::optional<StreamStartMessage> fromJson(const QJsonObject &object,
                                                      QString *error = nullptr);
};

// Every text frame a client sends on the stream. Audio normally goes as binary frames; the
// JSON audio message is the fallback framing that carries the same bytes in Base64.
struct StreamClientMessage
{
    struct Stop
    {
        bool operator==(const Stop &) const = default;
    };
    struct Audio
    {
        QByteArray pcm;
        bool operator==(const Audio &) const = default;
    };

    std::variant<StreamStartMessage, Stop, Audio> value;

    bool operator==(const StreamClientMessage &) const = default;

    static QByteArray startFrame(const QString &language, const QString &sttModel,
                                 std::optional<qint64> audioOffset = std::nullopt);
    static QByteArray stopFrame();
    static QByteArray audioFrame(const QByteArray &pcm);

    // Reads a text frame as the server does; no value for anything it does not understand
    // (including Base64 that does not decode).
    static std::optional<StreamClientMessage> parse(const QByteArray &utf8);
};

} // namespace vernalo
