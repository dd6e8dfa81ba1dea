#pragma once

#include "foundation/models.h"

#include <optional>
#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace vernalo {

class SecureSettings;

// The one persisted settings record.
struct STTConfiguration
{
    QString baseURL;
    QString apiKey;
    std::optional<QString> authToken; // run-time only, never stored
    QString updateManifestURL;
    QString defaultLanguage = QStringLiteral("fi-FI");
    QString defaultModel = QStringLiteral("chirp_3");
    std::optional<quint32> preferredInputDeviceID;
    std::optional<quint32> preferredSystemDisplayID;
    std::optional<QString> preferredSystemApplicationBundleID;
    bool allowSystemFallback = true;
    double mixedMicGain = 1.0;
    double mixedSystemGain = 1.0;
    bool mixedAutoDuckEnabled = true;
    double mixedDuckingStrength = 0.55;
    bool mixedLimiterEnabled = true;

    bool operator==(const STTConfiguration &other) const = default;

    // The record used when nothing usable is stored.
    static STTConfiguration defaults();

    QJsonObject toJson() const;
    // Lenient: every key may be missing; a key of the wrong type fails the whole record.
    static std::optional<STTConfiguration> fromJson(const QJsonObject &object,
                                                    QString *error = nullptr);

    // The stored form: compact UTF-8 JSON of one object. decode() refuses bytes that are not
    // exactly one JSON object ("invalid-json") or that fromJson() refuses (its reason).
    QByteArray encode() const;
    static std::optional<STTConfiguration> decode(const QByteArray &bytes,
                                                  QString *error = nullptr);

    MixSettings mixSettings() const;
    void setMixSettings(const MixSettings &settings);
};

// Fixed choices offered for new sessions, in display order.
QStringList supportedLanguages();
QStringList supportedModels();

// Gains and ducking are kept inside the ranges the mixer accepts.
double clampGain(double gain);
double clampDuckingStrength(double strength);

// Start-up repair: an empty (after trimming) base URL, API key or manifest address takes its
// build-time default; non-empty values stay exactly as stored.
STTConfiguration withBuildDefaults(STTConfiguration config);

class STTConfigurationStore
{
public:
    static constexpr auto kKey = "vernalo.mac.config";

    explicit STTConfigurationStore(SecureSettings *settings);

    // Never fails: absent, non-JSON or mistyped data gives the default record (and a log line).
    STTConfiguration load() const;
    void save(const STTConfiguration &config);
    // The store underneath, for the few small records that live beside the configuration.
    SecureSettings *settings() const { return m_settings; }

private:
    SecureSettings *m_settings;
};

} // namespace vernalo
