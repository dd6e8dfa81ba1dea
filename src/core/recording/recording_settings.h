#pragma once

#include "foundation/models.h"
#include "foundation/stt_configuration.h"
#include "sessions/transcript_export.h"

#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace vernalo {

// The settings screen's values: the configuration as last stored, and the choices made since
// (language, model, input mode, export, fallback, mixing). Changing a value here changes what
// the next recording uses; the controller stores them when the settings are saved.
//
// While a recording starts or runs the input mode is locked (the running capture, pipeline and
// status texts were set up for one mode); the screens also lock language and model then.
class RecordingSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariantMap config READ configMap NOTIFY configChanged)
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(QString sttModel READ sttModel WRITE setSttModel NOTIFY sttModelChanged)
    Q_PROPERTY(QStringList availableLanguages READ availableLanguages CONSTANT)
    Q_PROPERTY(QStringList availableModels READ availableModels CONSTANT)
    // Raw values: "microphone", "systemAudio", "microphoneAndSystem"; "txt", "json", ...
    Q_PROPERTY(QString inputMode READ inputModeName WRITE setInputModeName NOTIFY inputModeChanged)
    Q_PROPERTY(QString exportFormat READ exportFormatName WRITE setExportFormatName NOTIFY
                   exportFormatChanged)
    Q_PROPERTY(bool autoExportEnabled READ autoExportEnabled WRITE setAutoExportEnabled NOTIFY
                   autoExportEnabledChanged)
    Q_PROPERTY(bool allowSystemFallback READ allowSystemFallback WRITE setAllowSystemFallback NOTIFY
                   allowSystemFallbackChanged)
    Q_PROPERTY(double mixedMicGain READ mixedMicGain WRITE setMixedMicGain NOTIFY mixingChanged)
    Q_PROPERTY(
        double mixedSystemGain READ mixedSystemGain WRITE setMixedSystemGain NOTIFY mixingChanged)
    Q_PROPERTY(bool mixedAutoDuckEnabled READ mixedAutoDuckEnabled WRITE setMixedAutoDuckEnabled
                   NOTIFY mixingChanged)
    Q_PROPERTY(bool mixedLimiterEnabled READ mixedLimiterEnabled WRITE setMixedLimiterEnabled NOTIFY
                   mixingChanged)
    Q_PROPERTY(double mixedDuckingStrength READ mixedDuckingStrength WRITE setMixedDuckingStrength
                   NOTIFY mixingChanged)
    // "meeting", "interview", "webinar" or "custom", recognised from the values.
    Q_PROPERTY(QString mixedPreset READ mixedPresetName NOTIFY mixingChanged)
    Q_PROPERTY(bool locked READ isLocked NOTIFY lockedChanged)

public:
    explicit RecordingSettings(QObject *parent = nullptr);

    // Takes a loaded configuration as the screen's starting point.
    void adopt(const STTConfiguration &config);
    const STTConfiguration &configuration() const { return m_config; }
    STTConfiguration &mutableConfiguration() { return m_config; }
    // Announces a changed configuration (after it was stored).
    void publishConfiguration();

    QVariantMap configMap() const;
    QString language() const { return m_language; }
    QString sttModel() const { return m_sttModel; }
    QStringList availableLanguages() const;
    QStringList availableModels() const;
    AudioInputMode inputMode() const { return m_inputMode; }
    QString inputModeName() const { return rawValue(m_inputMode); }
    TranscriptExportFormat exportFormat() const { return m_exportFormat; }
    QString exportFormatName() const { return rawValue(m_exportFormat); }
    bool autoExportEnabled() const { return m_autoExportEnabled; }
    bool allowSystemFallback() const { return m_allowSystemFallback; }
    const MixSettings &mix() const { return m_mix; }
    double mixedMicGain() const { return m_mix.micGain; }
    double mixedSystemGain() const { return m_mix.systemGain; }
    bool mixedAutoDuckEnabled() const { return m_mix.autoDuckEnabled; }
    bool mixedLimiterEnabled() const { return m_mix.limiterEnabled; }
    double mixedDuckingStrength() const { return m_mix.duckingStrength; }
    MixPreset mixedPreset() const { return m_mixedPreset; }
    QString mixedPresetName() const { return rawValue(m_mixedPreset); }
    bool isLocked() const { return m_locked; }

    void setLanguage(const QString &language);
    void setSttModel(const QString &model);
    // Ignored while locked.
    void setInputModeName(const QString &raw);
    void setInputMode(AudioInputMode mode);
    // The mode a running recording switched to by itself (a microphone added, a fallback).
    void setLiveInputMode(AudioInputMode mode);
    void setExportFormatName(const QString &raw);
    void setAutoExportEnabled(bool enabled);
    void setAllowSystemFallback(bool allowed);
    // Values are clamped to their ranges; the preset follows the values.
    void setMix(const MixSettings &settings);
    void setMixedMicGain(double gain);
    void setMixedSystemGain(double gain);
    void setMixedAutoDuckEnabled(bool enabled);
    void setMixedLimiterEnabled(bool enabled);
    void setMixedDuckingStrength(double strength);
    void setLocked(bool locked);

Q_SIGNALS:
    void configChanged();
    void languageChanged();
    void sttModelChanged();
    void inputModeChanged();
    void exportFormatChanged();
    void autoExportEnabledChanged();
    void allowSystemFallbackChanged();
    void mixingChanged();
    void lockedChanged();

private:
    STTConfiguration m_config;
    QString m_language;
    QString m_sttModel;
    AudioInputMode m_inputMode = AudioInputMode::Microphone;
    TranscriptExportFormat m_exportFormat = TranscriptExportFormat::Txt;
    bool m_autoExportEnabled = false;
    bool m_allowSystemFallback = true;
    MixSettings m_mix;
    MixPreset m_mixedPreset = MixPreset::Meeting;
    bool m_locked = false;
};

} // namespace vernalo
