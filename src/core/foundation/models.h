#pragma once

#include <array>
#include <optional>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

namespace vernalo {

// How a record's dates are written: local history files use seconds since 2001-01-01 UTC,
// exports and the services use ISO 8601 strings.
enum class DateCoding { ReferenceSeconds, Iso8601 };

QJsonValue encodeDate(const QDateTime &date, DateCoding coding);

struct TranscriptSegment
{
    QUuid id;
    QString text;
    QDateTime timestamp;
    std::optional<QString> speakerLabel;

    bool operator==(const TranscriptSegment &other) const = default;

    QJsonObject toJson(DateCoding coding) const;
    // Returns no value when a required field is missing or mistyped; `error` says which.
    static std::optional<TranscriptSegment> fromJson(const QJsonObject &object, DateCoding coding,
                                                     QString *error = nullptr);
};

} // namespace vernalo

// Every member moves by a plain memory move (implicitly shared Qt values, a UUID, an optional
// string without self-references), so a sentence inserted into the middle of a long transcript
// shifts the rest with one memmove.
Q_DECLARE_TYPEINFO(vernalo::TranscriptSegment, Q_RELOCATABLE_TYPE);

namespace vernalo {

enum class AudioInputMode { Microphone, SystemAudio, MicrophoneAndSystem };

inline constexpr std::array kAllAudioInputModes {
    AudioInputMode::Microphone, AudioInputMode::SystemAudio, AudioInputMode::MicrophoneAndSystem};
QString rawValue(AudioInputMode mode);
QString label(AudioInputMode mode);
std::optional<AudioInputMode> audioInputModeFromRaw(const QString &raw);

struct AudioInputDeviceOption
{
    quint32 id = 0;
    QString name;
    bool isVirtual = false;

    bool operator==(const AudioInputDeviceOption &other) const = default;
    QJsonObject toJson() const;
    static std::optional<AudioInputDeviceOption> fromJson(const QJsonObject &object);
};

struct SystemAudioDisplayOption
{
    quint32 id = 0;
    QString name;

    bool operator==(const SystemAudioDisplayOption &other) const = default;
    QJsonObject toJson() const;
    static std::optional<SystemAudioDisplayOption> fromJson(const QJsonObject &object);
};

struct SystemAudioApplicationOption
{
    QString id;
    QString name;
    QString bundleIdentifier;

    bool operator==(const SystemAudioApplicationOption &other) const = default;
    QJsonObject toJson() const;
    static std::optional<SystemAudioApplicationOption> fromJson(const QJsonObject &object);
};

enum class TranscriptExportFormat { Txt, Json, Csv, Srt, WebVtt, Markdown };

inline constexpr std::array kAllExportFormats {
    TranscriptExportFormat::Txt, TranscriptExportFormat::Json,   TranscriptExportFormat::Csv,
    TranscriptExportFormat::Srt, TranscriptExportFormat::WebVtt, TranscriptExportFormat::Markdown};
QString rawValue(TranscriptExportFormat format); // also the file extension
QString label(TranscriptExportFormat format);
std::optional<TranscriptExportFormat> exportFormatFromRaw(const QString &raw);

enum class MixPreset { Meeting, Interview, Webinar, Custom };

inline constexpr std::array kAllMixPresets {MixPreset::Meeting, MixPreset::Interview,
                                            MixPreset::Webinar, MixPreset::Custom};
// The presets a user can pick; Custom is only the result of editing values by hand.
inline constexpr std::array kSelectableMixPresets {MixPreset::Meeting, MixPreset::Interview,
                                                   MixPreset::Webinar};
QString rawValue(MixPreset preset);
QString label(MixPreset preset);
std::optional<MixPreset> mixPresetFromRaw(const QString &raw);

// The five mixer settings a preset sets together.
struct MixSettings
{
    double micGain = 1.0;
    double systemGain = 1.0;
    bool autoDuckEnabled = true;
    double duckingStrength = 0.55;
    bool limiterEnabled = true;

    bool operator==(const MixSettings &other) const = default;
};

// Values of a preset; no value for Custom, which leaves the settings unchanged.
std::optional<MixSettings> mixSettings(MixPreset preset);
// The first preset whose values the settings match within 0.03 (gains) and 0.05 (ducking),
// bounds inclusive; Custom when none does.
MixPreset recognizeMixPreset(const MixSettings &settings);

} // namespace vernalo
