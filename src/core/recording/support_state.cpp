#include "recording/support_state.h"

#include "backend/health_status_texts.h"

#include <QFileInfo>

namespace vernalo {

SupportState::SupportState(QObject *parent)
    : QObject(parent)
    , m_memoAIBackendStatus(memoAIStatusUnknownLabel())
{ }

void SupportState::setAudioTestRunning(bool running)
{
    if (m_isAudioTestRunning == running)
        return;
    m_isAudioTestRunning = running;
    emit isAudioTestRunningChanged();
}

void SupportState::changeSummaryJobs(int delta)
{
    const bool was = isGeneratingSummary();
    m_summaryJobs += delta;
    if (was != isGeneratingSummary())
        emit isGeneratingSummaryChanged();
}

void SupportState::setExportingPackage(bool exporting)
{
    const bool was = isExportingDiagnostics();
    m_isExportingPackage = exporting;
    if (was != isExportingDiagnostics())
        emit isExportingDiagnosticsChanged();
}

void SupportState::changeAutoDiagnosticsJobs(int delta)
{
    const bool was = isExportingDiagnostics();
    m_autoDiagnosticsJobs += delta;
    if (was != isExportingDiagnostics())
        emit isExportingDiagnosticsChanged();
}

void SupportState::rememberDiagnosticsFile(const QString &path)
{
    m_lastDiagnosticsPath = path;
    const QString name = QFileInfo(path).fileName();
    if (name == m_lastDiagnosticsFileName)
        return;
    m_lastDiagnosticsFileName = name;
    emit lastDiagnosticsFileNameChanged();
}

void SupportState::setMemoAIBackendStatus(const QString &status)
{
    if (status == m_memoAIBackendStatus)
        return;
    m_memoAIBackendStatus = status;
    emit memoAIBackendStatusChanged();
}

} // namespace vernalo
