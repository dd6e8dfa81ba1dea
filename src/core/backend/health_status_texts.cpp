#include "backend/health_status_texts.h"

#include "foundation/text.h"

namespace vernalo {

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
