#include "diagnostics/diagnostic_export_payload.h"

#include "wire/json_fields.h"

#include <QJsonDocument>
#include <QLocale>

namespace vernalo {

QJsonObject DiagnosticConfigSnapshot::toJson() const
{
    return QJsonObject {
        {QStringLiteral("baseURL"), baseURL},
        {QStringLiteral("apiKeyMasked"), apiKeyMasked},
        {QStringLiteral("updateManifestURL"), updateManifestURL},
        {QStringLiteral("defaultLanguage"), defaultLanguage},
        {QStringLiteral("defaultModel"), defaultModel},
        {QStringLiteral("allowSystemFallback"), allowSystemFallback},
        {QStringLiteral("mixedPreset"), mixedPreset},
        {QStringLiteral("mixedMicGain"), mixedMicGain},
        {QStringLiteral("mixedSystemGain"), mixedSystemGain},
        {QStringLiteral("mixedAutoDuckEnabled"), mixedAutoDuckEnabled},
        {QStringLiteral("mixedDuckingStrength"), mixedDuckingStrength},
        {QStringLiteral("mixedLimiterEnabled"), mixedLimiterEnabled},
    };
}

QJsonObject DiagnosticRuntimeSnapshot::toJson() const
{
    return QJsonObject {
        {QStringLiteral("language"), language},
        {QStringLiteral("sttModel"), sttModel},
        {QStringLiteral("inputMode"), inputMode},
        {QStringLiteral("micLabel"), micLabel},
        {QStringLiteral("systemDisplay"), systemDisplay},
        {QStringLiteral("systemApplication"), systemApplication},
        {QStringLiteral("isStartingRecording"), isStartingRecording},
        {QStringLiteral("isRecording"), isRecording},
        {QStringLiteral("isResumingRecording"), isResumingRecording},
        {QStringLiteral("isPaused"), isPaused},
        {QStringLiteral("audioFramesSent"), audioFramesSent},
        {QStringLiteral("outgoingAudioLevel"), outgoingAudioLevel},
        {QStringLiteral("outgoingAudioPeak"), outgoingAudioPeak},
        {QStringLiteral("micFramesSeen"), micFramesSeen},
        {QStringLiteral("micAudioLevel"), micAudioLevel},
        {QStringLiteral("micAudioPeak"), micAudioPeak},
        {QStringLiteral("systemRawSamplesSeen"), systemRawSamplesSeen},
        {QStringLiteral("systemFramesSeen"), systemFramesSeen},
        {QStringLiteral("systemAudioLevel"), systemAudioLevel},
        {QStringLiteral("systemAudioPeak"), systemAudioPeak},
        {QStringLiteral("rawWithoutPCMStreak"), rawWithoutPCMStreak},
        {QStringLiteral("hasAttemptedSystemFallback"), hasAttemptedSystemFallback},
        {QStringLiteral("hasAttemptedMixedMicrophoneRestart"), hasAttemptedMixedMicrophoneRestart},
        {QStringLiteral("hasAttemptedMicrophoneDeviceFallback"),
         hasAttemptedMicrophoneDeviceFallback},
    };
}

QJsonObject DiagnosticExportPayload::toJson() const
{
    QJsonObject object {
        {QStringLiteral("createdAt"), toIso8601(createdAt)},
        {QStringLiteral("sessionId"), sessionId},
        {QStringLiteral("config"), config.toJson()},
        {QStringLiteral("runtime"), runtime.toJson()},
        {QStringLiteral("logTail"), logTail},
    };
    if (sessionMeta)
        object.insert(QStringLiteral("sessionMeta"), sessionMeta->toJson());
    if (transcript)
        object.insert(QStringLiteral("transcript"), transcript->toJson());
    return object;
}

QString apiKeyMasked(const QString &apiKey)
{
    static const QChar bullet(0x2022);
    // Counted in characters as the user sees them, so a key with characters outside the basic
    // plane is neither over-masked nor cut inside a surrogate pair.
    const QList<uint> characters = apiKey.toUcs4();
    if (characters.size() < 9)
        return QString(characters.size(), bullet);
    const auto *first = reinterpret_cast<const char32_t *>(characters.constData());
    return QString::fromUcs4(first, 4) + QString(8, bullet) +
        QString::fromUcs4(first + characters.size() - 4, 4);
}

QByteArray encodeDiagnosticJson(const QJsonObject &object)
{
    // QJsonObject keeps its keys sorted, so the indented form lists them alphabetically.
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QString diagnosticFileTimestamp(const QDateTime &time)
{
    static const QLocale finnish(QStringLiteral("fi_FI"));
    return finnish.toString(time.toLocalTime(), QStringLiteral("yyyyMMdd-HHmmss"));
}

QString diagnosticReasonSlug(const QString &reason)
{
    QString slug;
    bool inRun = false;
    for (const QChar c : reason.toLower()) {
        const bool kept = (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-';
        if (kept) {
            slug += c;
            inRun = false;
        } else if (!inRun) {
            slug += u'-';
            inRun = true;
        }
    }
    while (slug.startsWith(u'-'))
        slug.remove(0, 1);
    while (slug.endsWith(u'-'))
        slug.chop(1);
    return slug.isEmpty() ? QStringLiteral("fallback") : slug;
}

} // namespace vernalo
