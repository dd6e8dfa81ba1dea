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

} // namespace vernalo
