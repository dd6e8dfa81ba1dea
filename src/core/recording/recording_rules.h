#pragma once

#include "foundation/models.h"

#include <optional>
#include <QDateTime>
#include <QString>

namespace vernalo {

// What a stop without any transcript tells the user, chosen from what was sent.
struct NoTranscriptDiagnosis
{
    QString hint;
};
NoTranscriptDiagnosis diagnoseNoTranscript(int chunksSent, double averageLevel, double peakLevel,
                                           AudioInputMode mode);

// The listening line: "Kuuntelen... (<source>)", "Tauolla" while paused.
QString listeningStatusText(bool paused, AudioInputMode mode, const QString &microphoneName,
                            const QString &systemSourceName, const QString &selectedInputName);

// Session metadata says the session is over: status "stopped"/"stopping" (any case, spaces
// around) or an end time.
bool isTerminalSessionStatus(const std::optional<QString> &status,
                             const std::optional<QString> &endedAt);

// A stream URL handed out for an HTTPS backend is upgraded from ws:// to wss://.
QString streamUrlForBackend(const QString &wsUrl, const QString &baseURL);

} // namespace vernalo
