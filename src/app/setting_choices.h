#pragma once

#include "foundation/models.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>
#include <QVariantList>

namespace vernalo {

// The fixed choices of the settings as the screens list them: values, labels and ranges come
// from the core, so the screens never keep copies that could drift.
class SettingChoices : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Choices)
    QML_SINGLETON

    // Rows {mode|format|preset, value, label}; value is the raw value the controller stores.
    Q_PROPERTY(QVariantList inputModes READ inputModes CONSTANT)
    Q_PROPERTY(QVariantList exportFormats READ exportFormats CONSTANT)
    Q_PROPERTY(QVariantList mixPresets READ mixPresets CONSTANT)
    Q_PROPERTY(double minGain READ minGain CONSTANT)
    Q_PROPERTY(double maxGain READ maxGain CONSTANT)
    Q_PROPERTY(double maxDuckingStrength READ maxDuckingStrength CONSTANT)

public:
    enum InputMode {
        Microphone = int(AudioInputMode::Microphone),
        SystemAudio = int(AudioInputMode::SystemAudio),
        MicrophoneAndSystem = int(AudioInputMode::MicrophoneAndSystem),
    };
    Q_ENUM(InputMode)
    enum ExportFormat {
        Txt = int(TranscriptExportFormat::Txt),
        Json = int(TranscriptExportFormat::Json),
        Csv = int(TranscriptExportFormat::Csv),
        Srt = int(TranscriptExportFormat::Srt),
        WebVtt = int(TranscriptExportFormat::WebVtt),
        Markdown = int(TranscriptExportFormat::Markdown),
    };
    Q_ENUM(ExportFormat)
    enum MixPresetChoice {
        Meeting = int(MixPreset::Meeting),
        Interview = int(MixPreset::Interview),
        Webinar = int(MixPreset::Webinar),
        Custom = int(MixPreset::Custom),
    };
    Q_ENUM(MixPresetChoice)

    explicit SettingChoices(QObject *parent = nullptr);

    static QVariantList inputModes();
    static QVariantList exportFormats();
    // Every preset including "Mukautettu", which shows when values were edited by hand.
    static QVariantList mixPresets();
    static double minGain();
    static double maxGain();
    static double maxDuckingStrength();

    // The raw value of an enum member, for comparing with the controller's stored value.
    Q_INVOKABLE static QString inputModeValue(vernalo::SettingChoices::InputMode mode);
};

} // namespace vernalo
