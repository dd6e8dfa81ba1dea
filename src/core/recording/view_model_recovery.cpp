// Crash recovery: sessions the server holds as stopped that never reached the local history
// (the program ended during or right after a recording) are fetched and stored as history.
#include "backend/stt_api_client.h"
#include "foundation/app_log.h"
#include "recording/transcript_assembly.h"
#include "recording/transcription_view_model.h"
#include "sessions/session_history_store.h"
#include "wire/clock.h"
#include "wire/json_fields.h"

#include <algorithm>
#include <QPointer>
#include <QSet>

namespace vernalo {

namespace {

std::optional<QDateTime> parseISODate(const std::optional<QString> &text)
{
    const QString trimmed = text.value_or(QString()).trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return fromIso8601(trimmed);
}

QList<TranscriptSegment> recoveredTranscriptSegments(const ServerTranscriptResponse &response,
                                                     const QDateTime &now)
{
    QList<TranscriptSegment> segments;
    QSet<QString> keys;
    qint64 fallbackSeconds = 0;
    for (const ServerTranscriptResponse::Segment &segment : response.segments) {
        const QString text = segment.text.trimmed();
        if (text.isEmpty())
            continue;
        QDateTime time = parseISODate(segment.ts).value_or(QDateTime());
        if (!time.isValid())
            time = now.addSecs(fallbackSeconds++);
        const QString key = segmentKey(text, time);
        if (keys.contains(key))
            continue;
        keys.insert(key);
        segments.append({QUuid::createUuid(), text, time, segment.speakerLabel});
    }
    std::stable_sort(segments.begin(), segments.end(),
                     [](const TranscriptSegment &a, const TranscriptSegment &b) {
                         return a.timestamp < b.timestamp;
                     });
    return segments;
}

QString nonEmptyOr(const std::optional<QString> &value, const QString &fallback)
{
    const QString trimmed = value.value_or(QString()).trimmed();
    return trimmed.isEmpty() ? fallback : trimmed;
}

} // namespace

void TranscriptionViewModel::runStartupCrashRecoveryIfNeeded()
{
    if (m_hasAttemptedStartupCrashRecovery)
        return;
    m_hasAttemptedStartupCrashRecovery = true;
    recoverStoppedSessionsFromServer(12, 6, true);
}

void TranscriptionViewModel::restoreLatestCrashedSessionFromDiagnostics()
{
    if (isRecording()) {
        setStatusText(QStringLiteral("Pysäytä tallennus ennen kaatumispalautusta"));
        return;
    }
    recoverStoppedSessionsFromServer(20, 1, false);
}

QCoro::Task<> TranscriptionViewModel::recoverStoppedSessionsFromServer(int fetchLimit,
                                                                       int importLimit,
                                                                       bool startupMode)
{
    if (m_history->isCrashRecoveryRunning())
        co_return;
    const STTConfiguration config = currentConfig();
    if (config.authToken.value_or(QString()).isEmpty()) {
        if (!startupMode)
            setStatusText(QStringLiteral("Sessiopalautus vaatii aktiivisen kirjautumisen"));
        co_return;
    }
    QSet<QString> known;
    for (const SavedSessionListItem &item : m_historyStore->list())
        known.insert(item.id);
    // Deleted here while the server deletion failed: the user does not want them back.
    const QStringList pendingDeletion = pendingServerDeletions();
    for (const QString &id : pendingDeletion)
        known.insert(id);

    QPointer<TranscriptionViewModel> self(this);
    m_history->setCrashRecoveryProgress(0);
    m_history->setCrashRecoveryRunning(true);
    if (!startupMode)
        setStatusText(QStringLiteral("Palautetaan kaatunutta sessiota..."));

    QList<SessionMetaResponse> stopped;
    try {
        stopped = co_await m_apiClient->listSessions(config, QStringLiteral("stopped"),
                                                     std::clamp(fetchLimit, 1, 100));
    } catch (const std::exception &error) {
        if (!self)
            co_return;
        const QString description = QString::fromUtf8(error.what());
        AppLog::write(QStringLiteral("crash recovery failed error=") + description);
        if (!startupMode)
            setStatusText(QStringLiteral("Kaatumispalautus epäonnistui: ") + description);
        m_history->setCrashRecoveryProgress(1);
        m_history->setCrashRecoveryRunning(false);
        co_return;
    }
    if (!self)
        co_return;

    QStringList seen;
    QStringList restored;
    for (qsizetype index = 0; index < stopped.size(); ++index) {
        const SessionMetaResponse &meta = stopped.at(index);
        m_history->setCrashRecoveryProgress(double(index) / double(stopped.size()));
        const QString id = meta.id.value_or(QString()).trimmed();
        if (id.isEmpty())
            continue;
        seen.append(id);
        if (known.contains(id))
            continue;
        ServerTranscriptResponse transcript;
        try {
            transcript = co_await m_apiClient->getTranscript(config, id);
        } catch (const std::exception &error) {
            if (!self)
                co_return;
            AppLog::write(
                QStringLiteral("crash recovery transcript fetch failed session=%1 error=%2")
                    .arg(id, QString::fromUtf8(error.what())));
            continue;
        }
        if (!self)
            co_return;
        const QList<TranscriptSegment> segments =
            recoveredTranscriptSegments(transcript, m_clock->now());
        if (segments.isEmpty())
            continue;
        SavedSession session;
        session.id = id;
        session.createdAt = parseISODate(meta.createdAt).value_or(segments.first().timestamp);
        session.endedAt = parseISODate(meta.endedAt).value_or(segments.last().timestamp);
        session.language = nonEmptyOr(meta.language, config.defaultLanguage);
        session.sttModel = nonEmptyOr(meta.sttModel, config.defaultModel);
        session.segments = segments;
        // Through the store, so an ID from the server cannot name a path outside the history.
        if (const auto error = m_historyStore->save(session)) {
            AppLog::write(QStringLiteral("crash recovery save failed session=%1 error=%2")
                              .arg(id, error->description()));
            continue;
        }
        restored.append(id);
        if (restored.size() >= importLimit)
            break;
    }
    m_history->setCrashRecoveryProgress(1);
    refreshSessionHistory();

    if (startupMode) {
        if (!restored.isEmpty())
            setStatusText(
                QStringLiteral("Crash-recovery: palautettu %1 sessiota").arg(restored.size()));
    } else if (!restored.isEmpty()) {
        if (!isRecording()) {
            m_history->setSelectedSessionHistoryId(restored.first());
            loadSelectedSession();
        }
        setStatusText(QStringLiteral("Palautettu kaatunut sessio: ") + restored.first());
    } else if (!seen.isEmpty() && m_historyStore->load(seen.first())) {
        if (!isRecording()) {
            m_history->setSelectedSessionHistoryId(seen.first());
            loadSelectedSession();
        }
        setStatusText(QStringLiteral("Viimeisin kaatunut sessio oli jo historiassa: ") +
                      seen.first());
    } else {
        setStatusText(QStringLiteral("Palautettavaa kaatunutta sessiota ei löytynyt"));
    }
    m_history->setCrashRecoveryRunning(false);
}

} // namespace vernalo
