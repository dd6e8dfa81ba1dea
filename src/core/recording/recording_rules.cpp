#include "recording/recording_rules.h"

namespace vernalo {

NoTranscriptDiagnosis diagnoseNoTranscript(int chunksSent, double averageLevel, double peakLevel,
                                           AudioInputMode mode)
{
    if (chunksSent < 10)
        return {QStringLiteral("Tallennus jäi hyvin lyhyeksi eikä puhetta ehtinyt syntyä. Tee "
                               "äänitesti ja kokeile uudelleen.")};
    if (averageLevel < 0.001 && peakLevel < 0.02) {
        switch (mode) {
        case AudioInputMode::Microphone:
            return {QStringLiteral("Äänitaso oli lähes nolla. Tarkista mikrofoni tai valitse oikea "
                                   "äänilähde ja tee äänitesti.")};
        case AudioInputMode::SystemAudio:
            return {QStringLiteral("Systeemiäänen taso oli lähes nolla. Tarkista valittu "
                                   "näyttö/sovellus ja systeemiäänen kaappausoikeus.")};
        case AudioInputMode::MicrophoneAndSystem:
            return {QStringLiteral("Mikin ja systeemiäänen taso oli lähes nolla. Tarkista "
                                   "äänilähteet ja tee äänitesti.")};
        }
    }
    if (averageLevel < 0.005)
        return {QStringLiteral("Ääni oli hyvin hiljainen eikä puheentunnistus saanut sanoja. "
                               "Tarkista äänilähde ja tee äänitesti.")};
    return {QStringLiteral("Ääntä lähetettiin, mutta puheentunnistus ei palauttanut tekstiä. "
                           "Kokeile äänitestiä tai toista mallia.")};
}

QString listeningStatusText(bool paused, AudioInputMode mode, const QString &microphoneName,
                            const QString &systemSourceName, const QString &selectedInputName)
{
    if (paused)
        return QStringLiteral("Tauolla");
    const auto withSource = [](const QString &name) {
        return name.isEmpty() ? QStringLiteral("Kuuntelen...")
                              : QStringLiteral("Kuuntelen... (%1)").arg(name);
    };
    switch (mode) {
    case AudioInputMode::Microphone:
        return withSource(microphoneName);
    case AudioInputMode::SystemAudio:
        return withSource(systemSourceName);
    case AudioInputMode::MicrophoneAndSystem:
        return QStringLiteral("Kuuntelen... (%1 + %2)")
            .arg(selectedInputName,
                 systemSourceName.isEmpty() ? QStringLiteral("Järjestelmä") : systemSourceName);
    }
    return QStringLiteral("Kuuntelen...");
}

bool isTerminalSessionStatus(const std::optional<QString> &status,
                             const std::optional<QString> &endedAt)
{
    if (endedAt)
        return true;
    if (!status)
        return false;
    const QString normalized = status->trimmed().toLower();
    return normalized == QLatin1String("stopped") || normalized == QLatin1String("stopping");
}

QString streamUrlForBackend(const QString &wsUrl, const QString &baseURL)
{
    if (wsUrl.startsWith(QLatin1String("ws://"), Qt::CaseInsensitive) &&
        baseURL.trimmed().startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return QStringLiteral("wss://") + wsUrl.mid(5);
    return wsUrl;
}

} // namespace vernalo
