#include "recording/recording_settings.h"

namespace vernalo {

RecordingSettings::RecordingSettings(QObject *parent)
    : QObject(parent)
{ }

void RecordingSettings::adopt(const STTConfiguration &config)
{
    m_config = config;
    setLanguage(config.defaultLanguage);
    setSttModel(config.defaultModel);
    setAllowSystemFallback(config.allowSystemFallback);
    // Stored values are taken as they are; they are clamped when the user next changes one.
    m_mix = config.mixSettings();
    m_mixedPreset = recognizeMixPreset(m_mix);
    emit mixingChanged();
    emit configChanged();
}

void RecordingSettings::publishConfiguration()
{
    emit configChanged();
}

QVariantMap RecordingSettings::configMap() const
{
    return m_config.toJson().toVariantMap();
}

QStringList RecordingSettings::availableLanguages() const
{
    return supportedLanguages();
}

QStringList RecordingSettings::availableModels() const
{
    return supportedModels();
}

void RecordingSettings::setLanguage(const QString &language)
{
    if (m_language == language)
        return;
    m_language = language;
    emit languageChanged();
}

void RecordingSettings::setSttModel(const QString &model)
{
    if (m_sttModel == model)
        return;
    m_sttModel = model;
    emit sttModelChanged();
}

void RecordingSettings::setInputModeName(const QString &raw)
{
    if (const auto mode = audioInputModeFromRaw(raw))
        setInputMode(*mode);
}

void RecordingSettings::setInputMode(AudioInputMode mode)
{
    if (!m_locked)
        setLiveInputMode(mode);
}

void RecordingSettings::setLiveInputMode(AudioInputMode mode)
{
    if (m_inputMode == mode)
        return;
    m_inputMode = mode;
    emit inputModeChanged();
}

void RecordingSettings::setExportFormatName(const QString &raw)
{
    const auto format = exportFormatFromRaw(raw);
    if (!format || *format == m_exportFormat)
        return;
    m_exportFormat = *format;
    emit exportFormatChanged();
}

void RecordingSettings::setAutoExportEnabled(bool enabled)
{
    if (m_autoExportEnabled == enabled)
        return;
    m_autoExportEnabled = enabled;
    emit autoExportEnabledChanged();
}

void RecordingSettings::setAllowSystemFallback(bool allowed)
{
    if (m_allowSystemFallback == allowed)
        return;
    m_allowSystemFallback = allowed;
    emit allowSystemFallbackChanged();
}

void RecordingSettings::setMix(const MixSettings &settings)
{
    const MixSettings clamped {
        clampGain(settings.micGain), clampGain(settings.systemGain), settings.autoDuckEnabled,
        clampDuckingStrength(settings.duckingStrength), settings.limiterEnabled};
    const MixPreset preset = recognizeMixPreset(clamped);
    if (clamped == m_mix && preset == m_mixedPreset)
        return;
    m_mix = clamped;
    m_mixedPreset = preset;
    emit mixingChanged();
}

void RecordingSettings::setMixedMicGain(double gain)
{
    MixSettings settings = m_mix;
    settings.micGain = gain;
    setMix(settings);
}

void RecordingSettings::setMixedSystemGain(double gain)
{
    MixSettings settings = m_mix;
    settings.systemGain = gain;
    setMix(settings);
}

void RecordingSettings::setMixedAutoDuckEnabled(bool enabled)
{
    MixSettings settings = m_mix;
    settings.autoDuckEnabled = enabled;
    setMix(settings);
}

void RecordingSettings::setMixedLimiterEnabled(bool enabled)
{
    MixSettings settings = m_mix;
    settings.limiterEnabled = enabled;
    setMix(settings);
}

void RecordingSettings::setMixedDuckingStrength(double strength)
{
    MixSettings settings = m_mix;
    settings.duckingStrength = strength;
    setMix(settings);
}

void RecordingSettings::setLocked(bool locked)
{
    if (m_locked == locked)
        return;
    m_locked = locked;
    emit lockedChanged();
}

} // namespace vernalo
