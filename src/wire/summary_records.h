#pragma once

#include <optional>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace vernalo {

// The transcript a memo is generated from when the backend holds none of its own.
struct SummaryGenerateRequest
{
    struct Segment
    {
        QString text;
        QString ts; // the segment's time as text
        std::optional<QString> speakerLabel;

        bool operator==(const Segment &) const = default;
        QJsonObject toJson() const;
        static std::optional<Segment> fromJson(const QJsonObject &object, QString *error = nullptr);
    };

    QList<Segment> transcriptSegments;

    bool operator==(const SummaryGenerateRequest &) const = default;
    QJsonObject toJson() const;
    static std::optional<SummaryGenerateRequest> fromJson(const QJsonObject &object,
                                                          QString *error = nullptr);
};

// A generated memo.
struct SummaryPayload
{
    struct Content
    {
        std::optional<QString> memoType;
        std::optional<double> confidence;
        std::optional<QString> title;
        std::optional<QString> summary;
        std::optional<QString> cleanTranscript;

        bool operator==(const Content &) const = default;
        QJsonObject toJson() const;
        static std::optional<Content> fromJson(const QJsonObject &object, QString *error = nullptr);
    };

    QString sessionId;
    QString createdAt;
    Content summary;

    bool operator==(const SummaryPayload &) const = default;
    QJsonObject toJson() const;
    static std::optional<SummaryPayload> fromJson(const QJsonObject &object,
                                                  QString *error = nullptr);
};

} // namespace vernalo
