#include "foundation/models.h"

#include "wire/json_fields.h"

#include <cmath>

namespace vernalo {

QJsonValue encodeDate(const QDateTime &date, DateCoding coding)
{
    if (coding == DateCoding::ReferenceSeconds)
        return toReferenceSeconds(date);
    return toIso8601(date);
}

namespace {

std::optional<QDateTime> decodeDate(JsonReader &reader, const char *key, DateCoding coding)
{
    if (coding == DateCoding::ReferenceSeconds) {
        const auto seconds = reader.requireDouble(key);
        if (!reader.ok())
            return std::nullopt;
        QDateTime date = fromReferenceSeconds(seconds);
        if (!date.isValid()) {
            reader.fail(QStringLiteral("%1: date out of range").arg(QLatin1String(key)));
            return std::nullopt;
        }
        return date;
    }
    const auto text = reader.requireString(key);
    if (!reader.ok())
        return std::nullopt;
    auto date = fromIso8601(text);
    if (!date)
        reader.fail(QStringLiteral("%1: expected ISO 8601 date").arg(QLatin1String(key)));
    return date;
}

} // namespace

QJsonObject TranscriptSegment::toJson(DateCoding coding) const
{
    QJsonObject object {{QStringLiteral("id"), uuidText(id)},
                        {QStringLiteral("text"), text},
                        {QStringLiteral("timestamp"), encodeDate(timestamp, coding)}};
    if (speakerLabel)
        object.insert(QStringLiteral("speakerLabel"), *speakerLabel);
    return object;
}

std::optional<TranscriptSegment> TranscriptSegment::fromJson(const QJsonObject &object,
                                                             DateCoding coding, QString *error)
{
    JsonReader reader(object);
    TranscriptSegment segment;
    segment.id = reader.requireUuid("id");
    segment.text = reader.requireString("text");
    if (reader.ok()) {
        if (auto date = decodeDate(reader, "timestamp", coding))
            segment.timestamp = *date;
    }
    segment.speakerLabel = reader.optionalString("speakerLabel");
    if (!reader.ok()) {
        if (error)
            *error = reader.error();
        return std::nullopt;
    }
    return segment;
}

QString rawValue(AudioInputMode mode)
{
    switch (mode) {
    case AudioInputMode::Microphone:
        return QStringLiteral("microphone");
    case AudioInputMode::SystemAudio:
        return QStringLiteral("systemAudio");
    case AudioInputMode::MicrophoneAndSystem:
        return QStringLiteral("microphoneAndSystem");
    }
    return {};
}

QString label(AudioInputMode mode)
{
    switch (mode) {
    case AudioInputMode::Microphone:
        return QStringLiteral("Mikrofoni");
    case AudioInputMode::SystemAudio:
        return QStringLiteral("Systeemiääni");
    case AudioInputMode::MicrophoneAndSystem:
        return QStringLiteral("Mikki + systeemiääni");
    }
    return {};
}

std::optional<AudioInputMode> audioInputModeFromRaw(const QString &raw)
{
    for (auto mode : kAllAudioInputModes) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

QJsonObject AudioInputDeviceOption::toJson() const
{
    return {{QStringLiteral("id"), static_cast<qint64>(id)},
            {QStringLiteral("name"), name},
            {QStringLiteral("isVirtual"), isVirtual}};
}

std::optional<AudioInputDeviceOption> AudioInputDeviceOption::fromJson(const QJsonObject &object)
{
    JsonReader reader(object);
    AudioInputDeviceOption option;
    option.id = reader.optionalUInt32("id").value_or(0);
    if (!reader.has("id"))
        reader.fail(QStringLiteral("id: missing"));
    option.name = reader.requireString("name");
    option.isVirtual = reader.requireBool("isVirtual");
    if (!reader.ok())
        return std::nullopt;
    return option;
}

QJsonObject SystemAudioDisplayOption::toJson() const
{
    return {{QStringLiteral("id"), static_cast<qint64>(id)}, {QStringLiteral("name"), name}};
}

std::optional<SystemAudioDisplayOption>
SystemAudioDisplayOption::fromJson(const QJsonObject &object)
{
    JsonReader reader(object);
    SystemAudioDisplayOption option;
    option.id = reader.optionalUInt32("id").value_or(0);
    if (!reader.has("id"))
        reader.fail(QStringLiteral("id: missing"));
    option.name = reader.requireString("name");
    if (!reader.ok())
        return std::nullopt;
    return option;
}

QJsonObject SystemAudioApplicationOption::toJson() const
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("name"), name},
            {QStringLiteral("bundleIdentifier"), bundleIdentifier}};
}

std::optional<SystemAudioApplicationOption>
SystemAudioApplicationOption::fromJson(const QJsonObject &object)
{
    JsonReader reader(object);
    SystemAudioApplicationOption option;
    option.id = reader.requireString("id");
    option.name = reader.requireString("name");
    option.bundleIdentifier = reader.requireString("bundleIdentifier");
    if (!reader.ok())
        return std::nullopt;
    return option;
}

QString rawValue(TranscriptExportFormat format)
{
    switch (format) {
    case TranscriptExportFormat::Txt:
        return QStringLiteral("txt");
    case TranscriptExportFormat::Json:
        return QStringLiteral("json");
    case TranscriptExportFormat::Csv:
        return QStringLiteral("csv");
    case TranscriptExportFormat::Srt:
        return QStringLiteral("srt");
    case TranscriptExportFormat::WebVtt:
        return QStringLiteral("vtt");
    case TranscriptExportFormat::Markdown:
        return QStringLiteral("md");
    }
    return {};
}

QString label(TranscriptExportFormat format)
{
    switch (format) {
    case TranscriptExportFormat::WebVtt:
        return QStringLiteral("WebVTT");
    case TranscriptExportFormat::Markdown:
        return QStringLiteral("Markdown");
    default:
        return rawValue(format).toUpper();
    }
}

std::optional<TranscriptExportFormat> exportFormatFromRaw(const QString &raw)
{
    for (auto format : kAllExportFormats) {
        if (rawValue(format) == raw)
            return format;
    }
    return std::nullopt;
}

QString rawValue(MixPreset preset)
{
    switch (preset) {
    case MixPreset::Meeting:
        return QStringLiteral("meeting");
    case MixPreset::Interview:
        return QStringLiteral("interview");
    case MixPreset::Webinar:
        return QStringLiteral("webinar");
    case MixPreset::Custom:
        return QStringLiteral("custom");
    }
    return {};
}

QString label(MixPreset preset)
{
    switch (preset) {
    case MixPreset::Meeting:
        return QStringLiteral("Kokous");
    case MixPreset::Interview:
        return QStringLiteral("Haastattelu");
    case MixPreset::Webinar:
        return QStringLiteral("Webinaari");
    case MixPreset::Custom:
        return QStringLiteral("Mukautettu");
    }
    return {};
}

std::optional<MixPreset> mixPresetFromRaw(const QString &raw)
{
    for (auto preset : kAllMixPresets) {
        if (rawValue(preset) == raw)
            return preset;
    }
    return std::nullopt;
}

std::optional<MixSettings> mixSettings(MixPreset preset)
{
    switch (preset) {
    case MixPreset::Meeting:
        return MixSettings {1.0, 1.0, true, 0.45, true};
    case MixPreset::Interview:
        return MixSettings {1.15, 0.72, true, 0.65, true};
    case MixPreset::Webinar:
        return MixSettings {0.85, 1.2, false, 0.0, true};
    case MixPreset::Custom:
        return std::nullopt;
    }
    return std::nullopt;
}

namespace {
// A difference of exactly the tolerance still matches; the slack absorbs binary rounding
// (1.03 - 1.0 is 0.030000000000000027 in doubles).
bool within(double value, double target, double tolerance)
{
    return std::abs(value - target) <= tolerance + 1e-9;
}
} // namespace

MixPreset recognizeMixPreset(const MixSettings &settings)
{
    for (auto preset : kSelectableMixPresets) {
        const MixSettings target = *mixSettings(preset);
        if (within(settings.micGain, target.micGain, 0.03) &&
            within(settings.systemGain, target.systemGain, 0.03) &&
            within(settings.duckingStrength, target.duckingStrength, 0.05) &&
            settings.autoDuckEnabled == target.autoDuckEnabled && settings.limiterEnabled)
            return preset;
    }
    return MixPreset::Custom;
}

} // namespace vernalo
