#pragma once

#include <optional>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace vernalo {

// The JSON records the STT backend exchanges for sessions. Each record encodes with its field
// names as keys (absent optionals left out) and decodes strictly: a required field that is
// missing, null or mistyped fails the whole record; unknown keys are ignored. The reference
// server uses the same records from the other side.

struct STTSessionCreateRequest
{
    QString language;
    bool enableInterim = true;
    QString sttModel;
    bool enableSpeakerDiarization = false;
    qint64 speakerCount = 0;

    bool operator==(const STTSessionCreateRequest &) const = default;
    QJsonObject toJson() const;
    static std::optional<STTSessionCreateRequest> fromJson(const QJsonObject &object,
                                                           QString *error = nullptr);
};

struct STTSessionCreateResponse
{
    QString sessionId;
    QString wsUrl;
    QString token;

    bool operator==(const STTSessionCreateResponse &) const = default;
    QJsonObject toJson() const;
    static std::optional<STTSessionCreateResponse> fromJson(const QJsonObject &object,
                                                            QString *error = nullptr);
};

struct ServerTranscriptResponse
{
    struct Segment
    {
        QString text;
        std::optional<QString> ts; // ISO 8601 as the backend writes it
        std::optional<QString> speakerLabel;

        bool operator==(const Segment &) const = default;
        QJsonObject toJson() const;
        static std::optional<Segment> fromJson(const QJsonObject &object, QString *error = nullptr);
    };

    QString sessionId;
    QList<Segment> segments;

    bool operator==(const ServerTranscriptResponse &) const = default;
    QJsonObject toJson() const;
    static std::optional<ServerTranscriptResponse> fromJson(const QJsonObject &object,
                                                            QString *error = nullptr);
};

struct SessionMetaResponse
{
    struct SessionErrorInfo
    {
        std::optional<QString> at;
        std::optional<qint64> code;
        std::optional<QString> message;

        bool operator==(const SessionErrorInfo &) const = default;
        QJsonObject toJson() const;
        static std::optional<SessionErrorInfo> fromJson(const QJsonObject &object,
                                                        QString *error = nullptr);
    };

    std::optional<QString> id;
    std::optional<QString> status;
    std::optional<QString> createdAt;
    std::optional<QString> endedAt;
    std::optional<QString> language;
    std::optional<QString> sttModel;
    std::optional<qint64> audioFrameCount;
    std::optional<qint64> audioBytes;
    std::optional<double> avgAudioLevel;
    std::optional<double> peakAudioLevel;
    std::optional<qint64> interimCount;
    std::optional<qint64> finalCount;
    std::optional<qint64> segmentCount;
    std::optional<SessionErrorInfo> lastSttError;

    bool operator==(const SessionMetaResponse &) const = default;
    QJsonObject toJson() const;
    static std::optional<SessionMetaResponse> fromJson(const QJsonObject &object,
                                                       QString *error = nullptr);
};

struct SessionListResponse
{
    QList<SessionMetaResponse> items;

    bool operator==(const SessionListResponse &) const = default;
    QJsonObject toJson() const;
    static std::optional<SessionListResponse> fromJson(const QJsonObject &object,
                                                       QString *error = nullptr);
};

} // namespace vernalo
