#pragma once

#include <optional>
#include <QJsonObject>
#include <QString>

namespace vernalo {

// The backend's answer to GET /health.
struct HealthResponse
{
    struct MemoAIStatus
    {
        std::optional<bool> configured;
        std::optional<QString> model;

        bool operator==(const MemoAIStatus &) const = default;
        QJsonObject toJson() const;
        static std::optional<MemoAIStatus> fromJson(const QJsonObject &object,
                                                    QString *error = nullptr);
    };

    bool ok = false;
    QString time;
    std::optional<bool> openAIConfigured;
    std::optional<QString> openAIModel;
    std::optional<MemoAIStatus> memoAI;

    bool operator==(const HealthResponse &) const = default;
    QJsonObject toJson() const;
    static std::optional<HealthResponse> fromJson(const QJsonObject &object,
                                                  QString *error = nullptr);
};

// What the settings show about memo generation before any connection test.
QString memoAIStatusUnknownLabel();
// What they show after a failed connection test.
QString memoAIStatusConnectionErrorLabel();
// The memo capability label from a health answer: the newer "memoAI" fields win over the older
// top-level ones, field by field.
QString memoAIStatusLabel(const HealthResponse &health);
// The status line after a successful health call.
QString connectionTestStatusText(const HealthResponse &health);

} // namespace vernalo
