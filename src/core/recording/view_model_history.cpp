// The session history: the list, loading a stored session back into the transcript, storing a
// finished recording and the automatic export after it.
#include "recording/transcription_view_model.h"
#include "sessions/session_history_store.h"
#include "sessions/transcript_export_writer.h"
#include "wire/clock.h"

namespace vernalo {

void TranscriptionViewModel::refreshSessionHistory()
{
    m_history->model()->setItems(m_historyStore->list());
    if (!m_history->selectedSessionHistoryId().isEmpty() &&
        !m_history->model()->contains(m_history->selectedSessionHistoryId()))
        m_history->setSelectedSessionHistoryId(QString());
}

void TranscriptionViewModel::loadSession(const QString &id)
{
    // A recording, or a stop still saving one, owns the transcript.
    if (isTranscriptBusy())
        return;
    m_history->setSelectedSessionHistoryId(id);
    loadSelectedSession();
}

void TranscriptionViewModel::loadSelectedSession()
{
    if (isTranscriptBusy() || m_history->selectedSessionHistoryId().isEmpty())
        return;
    const std::optional<SavedSession> session =
        m_historyStore->load(m_history->selectedSessionHistoryId());
    if (!session)
        return;
    setSessionId(session->id);
    m_settings->setLanguage(session->language);
    m_settings->setSttModel(session->sttModel);
    m_segments->replace(session->segments);
    setInterimText(QString());
    setStatusText(QStringLiteral("Sessio ladattu"));
}

std::optional<QString>
TranscriptionViewModel::saveFinishedSession(const FinishPlan &plan,
                                            const QList<TranscriptSegment> &segments)
{
    const SavedSession session {plan.sessionId, plan.startedAt, m_clock->now(),
                                plan.language,  plan.model,     segments};
    if (const auto error = m_historyStore->save(session))
        return error->detail.isEmpty() ? error->description() : error->detail;
    return std::nullopt;
}

QString TranscriptionViewModel::autoExportAfterStopIfEnabled(const TranscriptSnapshot &snapshot)
{
    return autoExportTranscript(snapshot, m_settings->exportFormat(),
                                m_settings->autoExportEnabled(), m_clock->now(),
                                m_autoExportDirectory)
        .statusText;
}

} // namespace vernalo
