// The meeting memo: the backend writes it from the session's transcript (with the one on screen
// as a fallback), the controller downloads the document and offers to save it.
#include "backend/stt_api_client.h"
#include "foundation/app_log.h"
#include "ports/desktop_services.h"
#include "recording/transcription_view_model.h"
#include "sessions/atomic_file.h"
#include "sessions/summary_fallback.h"

#include <QFileInfo>
#include <QPointer>

namespace vernalo {

QList<SummaryGenerateRequest::Segment> TranscriptionViewModel::makeSummaryFallbackSegments() const
{
    return summaryFallbackSegments(m_segments->segments());
}

void TranscriptionViewModel::generateSummaryDocx()
{
    if (!canSave() || m_sessionId.isEmpty())
        return;
    setStatusText(QStringLiteral("Muodostetaan muistio..."));
    runSummaryGeneration(currentConfig(), m_sessionId, makeSummaryFallbackSegments());
}

QCoro::Task<>
TranscriptionViewModel::runSummaryGeneration(STTConfiguration config, QString sessionId,
                                             QList<SummaryGenerateRequest::Segment> segments)
{
    QPointer<TranscriptionViewModel> self(this);
    m_support->changeSummaryJobs(+1);
    QByteArray document;
    std::optional<QString> failure;
    try {
        // Only the arrival of the memo matters; the document is what the user keeps.
        co_await m_apiClient->generateSummary(config, sessionId, segments);
        if (self)
            document = co_await m_apiClient->downloadSummaryDocx(config, sessionId);
    } catch (const std::exception &error) {
        failure = QString::fromUtf8(error.what());
    }
    if (!self)
        co_return;
    if (failure) {
        AppLog::write(
            QStringLiteral("memo generation failed session=%1 error=%2").arg(sessionId, *failure));
        m_support->changeSummaryJobs(-1);
        setStatusText(QStringLiteral("Muistion luonti epäonnistui: ") + *failure);
        co_return;
    }

    SaveDialogRequest request;
    request.title = QStringLiteral("Tallenna muistio");
    request.suggestedFileName = memoFileName(sessionId);
    request.nameFilters = {QStringLiteral("Word (*.docx)")};
    const std::optional<QString> chosen = co_await m_desktop->chooseSaveFile(request);
    if (!self)
        co_return;
    m_support->changeSummaryJobs(-1);
    if (!chosen || chosen->isEmpty()) {
        setStatusText(QStringLiteral("Muistio valmis"));
        co_return;
    }
    // Atomic, so a failed write never leaves a broken document in place of an older one.
    if (const auto error = writeFileAtomically(*chosen, document)) {
        AppLog::write(QStringLiteral("memo save failed path=%1 error=%2").arg(*chosen, *error));
        setStatusText(QStringLiteral("Muistion tallennus epäonnistui"));
        co_return;
    }
    setStatusText(QStringLiteral("Muistio tallennettu: ") + QFileInfo(*chosen).fileName());
}

} // namespace vernalo
