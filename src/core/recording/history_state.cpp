#include "recording/history_state.h"

namespace vernalo {

HistoryState::HistoryState(QObject *parent)
    : QObject(parent)
    , m_model(new SessionHistoryModel(this))
{ }

void HistoryState::setSelectedSessionHistoryId(const QString &id)
{
    if (m_selectedId == id)
        return;
    m_selectedId = id;
    emit selectedSessionHistoryIdChanged();
}

void HistoryState::changeDeletionJobs(int delta, bool all)
{
    m_deletionJobs += delta;
    if (all)
        m_isDeletingAll = delta > 0;
    emit deletionStateChanged();
}

void HistoryState::setCrashRecoveryRunning(bool running)
{
    if (m_isCrashRecoveryRunning == running)
        return;
    m_isCrashRecoveryRunning = running;
    emit isCrashRecoveryRunningChanged();
}

void HistoryState::setCrashRecoveryProgress(double progress)
{
    if (qFuzzyCompare(m_crashRecoveryProgress + 1, progress + 1))
        return;
    m_crashRecoveryProgress = progress;
    emit crashRecoveryProgressChanged();
}

} // namespace vernalo
