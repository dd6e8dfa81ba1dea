#include "foundation/stt_configuration.h"

#include "foundation/app_log.h"
#include "foundation/build_info.h"
#include "foundation/mix_ranges.h"
#include "foundation/secure_settings.h"
#include "wire/json_fields.h"

#include <algorithm>
#include <QJsonDocument>

namespace vernalo {

double clampGain(double gain)
{
    return std::clamp(gain, kMinGain, kMaxGain);
}
double clampDuckingStrength(double strength)
{
    return std::clamp(strength, 0.0, kMaxDuckingStrength);
}

QStringList supportedLanguages()
{
    return {QStringLiteral("fi-FI"), QStringLiteral("sv-SE"), QStringLiteral("en-US")};
}

QStringList supportedModels()
{
    return {QStringLiteral("chirp_3"), QStringLiteral("long"), QStringLiteral("telephony"),
            QStringLiteral("chirp_telephony"), QStringLiteral("short")};
}

STTConfiguration STTConfiguration::defaults()
{
    STTConfiguration config;
    config.baseURL = buildinfo::defaultBackendURL();
    config.updateManifestURL = buildinfo::defaultUpdateManifestURL();
    return config;
}

QJsonObject STTConfiguration::toJson() const
{
    QJsonObject object {
        {QStringLiteral("baseURL"), baseURL},
        {QStringLiteral("apiKey"), apiKey},
        {QStringLiteral("updateManifestURL"), updateManifestURL},
        {QStringLiteral("defaultLanguage"), defaultLanguage},
        {QStringLiteral("defaultModel"), defaultModel},
        {QStringLiteral("allowSystemFallback"), allowSystemFallback},
        {QStringLiteral("mixedMicGain"), mixedMicGain},
        {QStringLiteral("mixedSystemGain"), mixedSystemGain},
        {QStringLiteral("mixedAutoDuckEnabled"), mixedAutoDuckEnabled},
        {QStringLiteral("mixedDuckingStrength"), mixedDuckingStrength},
        {QStringLiteral("mixedLimiterEnabled"), mixedLimiterEnabled},
    };
    if (preferredInputDeviceID)
        object.insert(QStringLiteral("preferredInputDeviceID"),
                      static_cast<qint64>(*preferredInputDeviceID));
    if (preferredSystemDisplayID)
        object.insert(QStringLiteral("preferredSystemDisplayID"),
                      static_cast<qint64>(*preferredSystemDisplayID));
    if (preferredSystemApplicationBundleID)
        object.insert(QStringLiteral("preferredSystemApplicationBundleID"),
                      *preferredSystemApplicationBundleID);
    return object;
}

std::optional<STTConfiguration> STTConfiguration::fromJson(const QJsonObject &object,
                                                           QString *error)
{
    JsonReader reader(object);
    const STTConfiguration fallback = defaults();
    STTConfiguration config;
    config.baseURL = reader.optionalString("baseURL").value_or(fallback.baseURL);
    config.apiKey = reader.optionalString("apiKey").value_or(QString());
    config.updateManifestURL =
        reader.optionalString("updateManifestURL").value_or(fallback.updateManifestURL);
    config.defaultLanguage =
        reader.optionalString("defaultLanguage").value_or(fallback.defaultLanguage);
    config.defaultModel = reader.optionalString("defaultModel").value_or(fallback.defaultModel);
    config.preferredInputDeviceID = reader.optionalUInt32("preferredInputDeviceID");
    config.preferredSystemDisplayID = reader.optionalUInt32("preferredSystemDisplayID");
    config.preferredSystemApplicationBundleID =
        reader.optionalString("preferredSystemApplicationBundleID");
    config.allowSystemFallback = reader.optionalBool("allowSystemFallback").value_or(true);
    config.mixedMicGain = clampGain(reader.optionalDouble("mixedMicGain").value_or(1.0));
    config.mixedSystemGain = clampGain(reader.optionalDouble("mixedSystemGain").value_or(1.0));
    config.mixedAutoDuckEnabled = reader.optionalBool("mixedAutoDuckEnabled").value_or(true);
    config.mixedDuckingStrength =
        clampDuckingStrength(reader.optionalDouble("mixedDuckingStrength").value_or(0.55));
    config.mixedLimiterEnabled = reader.optionalBool("mixedLimiterEnabled").value_or(true);
    if (!reader.ok()) {
        if (error)
            *error = reader.error();
        return std::nullopt;
    }
    return config;
}

QByteArray STTConfiguration::encode() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<STTConfiguration> STTConfiguration::decode(const QByteArray &bytes, QString *error)
{
    QJsonParseError parseError {};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        if (error)
            *error = QStringLiteral("invalid-json");
        return std::nullopt;
    }
    return fromJson(document.object(), error);
}

MixSettings STTConfiguration::mixSettings() const
{
    return {mixedMicGain, mixedSystemGain, mixedAutoDuckEnabled, mixedDuckingStrength,
            mixedLimiterEnabled};
}

void STTConfiguration::setMixSettings(const MixSettings &settings)
{
    mixedMicGain = clampGain(settings.micGain);
    mixedSystemGain = clampGain(settings.systemGain);
    mixedAutoDuckEnabled = settings.autoDuckEnabled;
    mixedDuckingStrength = clampDuckingStrength(settings.duckingStrength);
    mixedLimiterEnabled = settings.limiterEnabled;
}

STTConfiguration withBuildDefaults(STTConfiguration config)
{
    if (config.baseURL.trimmed().isEmpty())
        config.baseURL = buildinfo::defaultBackendURL();
    if (config.apiKey.trimmed().isEmpty())
        config.apiKey = buildinfo::defaultSharedAPIKey();
    if (config.updateManifestURL.trimmed().isEmpty())
        config.updateManifestURL = buildinfo::defaultUpdateManifestURL();
    return config;
}

STTConfigurationStore::STTConfigurationStore(SecureSettings *settings)
    : m_settings(settings)
{ }

STTConfiguration STTConfigurationStore::load() const
{
    const QVariant stored = m_settings->value(QLatin1String(kKey));
    if (!stored.isValid())
        return STTConfiguration::defaults();
    if (stored.typeId() != QMetaType::QString && stored.typeId() != QMetaType::QByteArray) {
        AppLog::write(QStringLiteral("config load failed reason=not-text, using defaults"));
        return STTConfiguration::defaults();
    }
    const QByteArray bytes = stored.typeId() == QMetaType::QByteArray ? stored.toByteArray()
                                                                      : stored.toString().toUtf8();
    QString error;
    auto config = STTConfiguration::decode(bytes, &error);
    if (!config) {
        AppLog::write(QStringLiteral("config load failed reason=%1, using defaults").arg(error));
        return STTConfiguration::defaults();
    }
    if (m_settings->usesKeyring()) {
        const QString apiKeySecret = QLatin1String(SecureSettings::kApiKeySecretKey);
        // A key still in the blob (written before the keyring was in use) moves there now.
        if (!config->apiKey.isEmpty()) {
            m_settings->setValue(apiKeySecret, config->apiKey);
            if (m_settings->value(apiKeySecret).toString() == config->apiKey) {
                STTConfiguration stripped = *config;
                stripped.apiKey.clear();
                m_settings->setValue(QLatin1String(kKey), QString::fromUtf8(stripped.encode()));
            }
        }
        config->apiKey = m_settings->value(apiKeySecret).toString();
    }
    return *config;
}

void STTConfigurationStore::save(const STTConfiguration &config)
{
    STTConfiguration stored = config;
    if (m_settings->usesKeyring()) {
        m_settings->setValue(QLatin1String(SecureSettings::kApiKeySecretKey), config.apiKey);
        stored.apiKey.clear();
    }
    m_settings->setValue(QLatin1String(kKey), QString::fromUtf8(stored.encode()));
}

} // namespace vernalo
