#include "backend/health_response.h"

#include "backend/wire_coding.h"
#include "foundation/json_fields.h"
#include "foundation/text.h"

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

QString memoAIStatusUnknownLabel()
{
    return QStringLiteral("Ei tiedossa (testaa yhteys)");
}

QString memoAIStatusConnectionErrorLabel()
{
    return QStringLiteral("Tuntematon (yhteysvirhe)");
}

QString memoAIStatusLabel(const HealthResponse &health)
{
    std::optional<bool> configured = health.openAIConfigured;
    if (health.memoAI && health.memoAI->configured)
        configured = health.memoAI->configured;
    std::optional<QString> model = health.openAIModel;
    if (health.memoAI && health.memoAI->model)
        model = health.memoAI->model;
    const QString trimmedModel = model ? trimmedInput(*model) : QString();

    if (!configured)
        return QStringLiteral("Ei tiedossa (vanha backend)");
    if (!*configured)
        return QStringLiteral("Ei konfiguroitu");
    if (trimmedModel.isEmpty())
        return QStringLiteral("Käytössä");
    return QStringLiteral("Käytössä (%1)").arg(trimmedModel);
}

QString connectionTestStatusText(const HealthResponse &health)
{
    if (!health.ok)
        return QStringLiteral("Yhteystesti epäonnistui");
    return QStringLiteral("Yhteys ok (%1)").arg(health.time.left(19));
}

} // namespace vernalo
