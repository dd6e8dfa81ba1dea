#include "wire/health_response.h"

#include "wire/json_fields.h"
#include "wire/wire_coding.h"

namespace vernalo {

using wire::insertOptional;

QJsonObject HealthResponse::MemoAIStatus::toJson() const
{
    QJsonObject object;
    insertOptional(object, "configured", configured);
    insertOptional(object, "model", model);
    return object;
}

std::optional<HealthResponse::MemoAIStatus>
HealthResponse::MemoAIStatus::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    MemoAIStatus status;
    status.configured = reader.optionalBool("configured");
    status.model = reader.optionalString("model");
    return wire::finish(reader, status, error);
}

QJsonObject HealthResponse::toJson() const
{
    QJsonObject object {{QStringLiteral("ok"), ok}, {QStringLiteral("time"), time}};
    insertOptional(object, "openAIConfigured", openAIConfigured);
    insertOptional(object, "openAIModel", openAIModel);
    if (memoAI)
        object.insert(QStringLiteral("memoAI"), memoAI->toJson());
    return object;
}

std::optional<HealthResponse> HealthResponse::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    HealthResponse health;
    health.ok = reader.requireBool("ok");
    health.time = reader.requireString("time");
    health.openAIConfigured = reader.optionalBool("openAIConfigured");
    health.openAIModel = reader.optionalString("openAIModel");
    health.memoAI = wire::readOptionalObject<MemoAIStatus>(reader, "memoAI");
    return wire::finish(reader, health, error);
}

} // namespace vernalo
