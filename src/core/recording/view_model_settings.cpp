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
    m_config = withBuildDefaults(m_configStore->load());
    m_language = m_config.defaultLanguage;
    m_sttModel = m_config.defaultModel;
    m_selectedInputDeviceID = m_config.preferredInputDeviceID.value_or(0);
    m_selectedSystemDisplayID = m_config.preferredSystemDisplayID.value_or(0);
    m_selectedSystemApplicationBundleID =
        m_config.preferredSystemApplicationBundleID.value_or(QString());
    m_allowSystemFallback = m_config.allowSystemFallback;
    m_mix = m_config.mixSettings();
    m_mixedPreset = recognizeMixPreset(m_mix);
    m_pipeline->setMixSettings(m_mix);
    // A fresh installation gets the shared key; a broken stored blob is replaced at once.
    m_configStore->save(m_config);
}

void TranscriptionViewModel::saveConfig(bool showStatus)
{
    m_config.baseURL = trimmedInput(m_config.baseURL);
    m_config.apiKey = trimmedInput(m_config.apiKey);
    m_config.updateManifestURL = trimmedInput(m_config.updateManifestURL);
    m_config.defaultLanguage = m_language;
    m_config.defaultModel = m_sttModel;
    m_config.preferredInputDeviceID =
        m_selectedInputDeviceID == 0 ? std::nullopt : std::optional(m_selectedInputDeviceID);
    m_config.preferredSystemDisplayID =
        m_selectedSystemDisplayID == 0 ? std::nullopt : std::optional(m_selectedSystemDisplayID);
    m_config.preferredSystemApplicationBundleID = m_selectedSystemApplicationBundleID.isEmpty()
        ? std::nullopt
        : std::optional(m_selectedSystemApplicationBundleID);
    m_config.allowSystemFallback = m_allowSystemFallback;
    m_config.setMixSettings(m_mix);
    publishMixSettings(m_config.mixSettings());
    m_configStore->save(m_config);
    emit configChanged();
    if (showStatus)
        setStatusText(QStringLiteral("Asetukset tallennettu"));
}

void TranscriptionViewModel::publishMixSettings(const MixSettings &settings)
{
    const MixSettings clamped {
        clampGain(settings.micGain), clampGain(settings.systemGain), settings.autoDuckEnabled,
        clampDuckingStrength(settings.duckingStrength), settings.limiterEnabled};
    const MixPreset preset = recognizeMixPreset(clamped);
    if (clamped == m_mix && preset == m_mixedPreset)
        return;
    m_mix = clamped;
    m_mixedPreset = preset;
    // A running mixed recording hears the change at once.
    m_pipeline->setMixSettings(m_mix);
    emit mixingChanged();
}

void TranscriptionViewModel::applyMixPreset(const QString &preset)
{
    const std::optional<MixPreset> chosen = mixPresetFromRaw(preset);
    if (!chosen)
        return;
    const std::optional<MixSettings> values = mixSettings(*chosen);
    if (!values)
        return; // custom: nothing changes, not even the status line
    publishMixSettings(*values);
    saveConfig(false);
    setStatusText(QStringLiteral("Miksausprofiili: ") + label(*chosen));
}

void TranscriptionViewModel::setMixedMicGain(double gain)
{
    MixSettings settings = m_mix;
    settings.micGain = gain;
    publishMixSettings(settings);
}

void TranscriptionViewModel::setMixedSystemGain(double gain)
{
    MixSettings settings = m_mix;
    settings.systemGain = gain;
    publishMixSettings(settings);
}

void TranscriptionViewModel::setMixedAutoDuckEnabled(bool enabled)
{
    MixSettings settings = m_mix;
    settings.autoDuckEnabled = enabled;
    publishMixSettings(settings);
}

void TranscriptionViewModel::setMixedLimiterEnabled(bool enabled)
{
    MixSettings settings = m_mix;
    settings.limiterEnabled = enabled;
    publishMixSettings(settings);
}

void TranscriptionViewModel::setMixedDuckingStrength(double strength)
{
    MixSettings settings = m_mix;
    settings.duckingStrength = strength;
    publishMixSettings(settings);
}

void TranscriptionViewModel::setLanguage(const QString &language)
{
    if (m_language == language)
        return;
    m_language = language;
    emit languageChanged();
}

void TranscriptionViewModel::setSttModel(const QString &model)
{
    if (m_sttModel == model)
        return;
    m_sttModel = model;
    emit sttModelChanged();
}

void TranscriptionViewModel::setInputModeName(const QString &raw)
{
    if (const auto mode = audioInputModeFromRaw(raw))
        setInputMode(*mode);
}

void TranscriptionViewModel::setInputMode(AudioInputMode mode)
{
    // The running capture, its pipeline and its status texts were set up for one mode.
    if (m_inputMode == mode || isStoppablePhase(m_phase))
        return;
    m_inputMode = mode;
    emit inputModeChanged();
}

void TranscriptionViewModel::setExportFormatName(const QString &raw)
{
    const auto format = exportFormatFromRaw(raw);
    if (!format || *format == m_exportFormat)
        return;
    m_exportFormat = *format;
    emit exportFormatChanged();
}

void TranscriptionViewModel::setAutoExportEnabled(bool enabled)
{
    if (m_autoExportEnabled == enabled)
        return;
    m_autoExportEnabled = enabled;
    emit autoExportEnabledChanged();
}

void TranscriptionViewModel::setAllowSystemFallback(bool allowed)
{
    if (m_allowSystemFallback == allowed)
        return;
    m_allowSystemFallback = allowed;
    emit allowSystemFallbackChanged();
}

void TranscriptionViewModel::updateAuthContext(const QVariant &user, const QString &sessionToken)
{
    const QString token = trimmedInput(sessionToken);
    const std::optional<QString> next = token.isEmpty() ? std::nullopt : std::optional(token);
    if (next == m_config.authToken)
        return;
    m_config.authToken = next;
    AppLog::write(QStringLiteral("auth context updated user=%1 token=%2")
                      .arg(user.toMap().value(QStringLiteral("email")).toString(),
                           next ? QStringLiteral("present") : QStringLiteral("absent")));
}

void TranscriptionViewModel::testBackendConnection()
{
    setStatusText(QStringLiteral("Testataan yhteyttä..."));
    runConnectionTest(m_config);
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
    if (memoStatus != m_memoAIBackendStatus) {
        m_memoAIBackendStatus = memoStatus;
        emit memoAIBackendStatusChanged();
    }
    setStatusText(health ? connectionTestStatusText(*health)
                         : QStringLiteral("Yhteysvirhe: ") + failure);
}

} // namespace vernalo
