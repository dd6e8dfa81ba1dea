// The configuration as the settings screen sees it: loading and repairing it at start-up,
// saving it, mixing presets and values, the session token and the connection test.
#include "audio/outgoing_audio_pipeline.h"
#include "backend/health_status_texts.h"
#include "backend/stt_api_client.h"
#include "foundation/app_log.h"
#include "foundation/text.h"
#include "recording/transcription_view_model.h"

namespace vernalo {

void TranscriptionViewModel::loadConfiguration()
{
    const STTConfiguration config = withBuildDefaults(m_configStore->load());
    m_settings->adopt(config);
    m_sources->setSelectedInputDeviceID(config.preferredInputDeviceID.value_or(0));
    m_sources->setSelectedSystemSource(
        config.preferredSystemDisplayID.value_or(0),
        config.preferredSystemApplicationBundleID.value_or(QString()));
    m_pipeline->setMixSettings(m_settings->mix());
    // A fresh installation gets the shared key; a broken stored blob is replaced at once.
    m_configStore->save(config);
}

void TranscriptionViewModel::saveConfig(bool showStatus)
{
    STTConfiguration &config = currentConfig();
    config.baseURL = trimmedInput(config.baseURL);
    config.apiKey = trimmedInput(config.apiKey);
    config.updateManifestURL = trimmedInput(config.updateManifestURL);
    config.defaultLanguage = m_settings->language();
    config.defaultModel = m_settings->sttModel();
    const quint32 device = m_sources->selectedInputDeviceID();
    config.preferredInputDeviceID = device == 0 ? std::nullopt : std::optional(device);
    const quint32 display = m_sources->selectedSystemDisplayID();
    config.preferredSystemDisplayID = display == 0 ? std::nullopt : std::optional(display);
    const QString application = m_sources->selectedSystemApplicationBundleID();
    config.preferredSystemApplicationBundleID =
        application.isEmpty() ? std::nullopt : std::optional(application);
    config.allowSystemFallback = m_settings->allowSystemFallback();
    config.setMixSettings(m_settings->mix());
    m_settings->setMix(config.mixSettings());
    m_configStore->save(config);
    m_settings->publishConfiguration();
    if (showStatus)
        setStatusText(QStringLiteral("Asetukset tallennettu"));
}

void TranscriptionViewModel::applyMixPreset(const QString &preset)
{
    const std::optional<MixPreset> chosen = mixPresetFromRaw(preset);
    if (!chosen)
        return;
    const std::optional<MixSettings> values = mixSettings(*chosen);
    if (!values)
        return; // custom: nothing changes, not even the status line
    m_settings->setMix(*values);
    saveConfig(false);
    setStatusText(QStringLiteral("Miksausprofiili: ") + label(*chosen));
}

void TranscriptionViewModel::updateAuthContext(const QVariant &user, const QString &sessionToken)
{
    const QString token = trimmedInput(sessionToken);
    m_signedInUser =
        token.isEmpty() ? QString() : user.toMap().value(QStringLiteral("email")).toString();
    const std::optional<QString> next = token.isEmpty() ? std::nullopt : std::optional(token);
    if (next == currentConfig().authToken)
        return;
    currentConfig().authToken = next;
    AppLog::write(QStringLiteral("auth context updated user=%1 token=%2")
                      .arg(user.toMap().value(QStringLiteral("email")).toString(),
                           next ? QStringLiteral("present") : QStringLiteral("absent")));
}

void TranscriptionViewModel::testBackendConnection()
{
    setStatusText(QStringLiteral("Testataan yhteyttä..."));
    runConnectionTest(currentConfig());
}

QCoro::Task<> TranscriptionViewModel::runConnectionTest(STTConfiguration config)
{
    QPointer<TranscriptionViewModel> self(this);
    std::optional<HealthResponse> health;
    QString failure;
    try {
        health = co_await m_apiClient->health(config);
    } catch (const APIClientError &error) {
        failure = error.localizedDescription();
    } catch (const std::exception &error) {
        failure = QString::fromUtf8(error.what());
    }
    if (!self)
        co_return;
    const QString memoStatus =
        health ? memoAIStatusLabel(*health) : memoAIStatusConnectionErrorLabel();
    m_support->setMemoAIBackendStatus(memoStatus);
    setStatusText(health ? connectionTestStatusText(*health)
                         : QStringLiteral("Yhteysvirhe: ") + failure);
}

} // namespace vernalo
