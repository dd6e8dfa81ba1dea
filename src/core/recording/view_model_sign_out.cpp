// What the next user must not see of the last one's work.
#include "recording/transcription_view_model.h"

namespace vernalo {

void TranscriptionViewModel::clearForNextUser()
{
    if (isTranscriptBusy())
        return;
    setInterimText(QString());
    m_segments->clear();
    setSessionId(QString());
    setStatusText(QString());
    setDiagnosticHint(QString());
    m_history->setSelectedSessionHistoryId(QString());
    m_recordingStartedAt = QDateTime();
    resetPauseTracking();
}

} // namespace vernalo
